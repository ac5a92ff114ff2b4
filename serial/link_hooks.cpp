#include "serial/link_hooks.h"

LinkHooks& TheLinkHooks() {
  static LinkHooks hooks;
  return hooks;
}
