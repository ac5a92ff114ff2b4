#include "reply/reply_field.h"
