#include "ui/app_state.h"
