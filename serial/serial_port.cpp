#include "serial/serial_port.h"
