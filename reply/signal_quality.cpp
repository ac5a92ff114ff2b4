#include "reply/signal_quality.h"
