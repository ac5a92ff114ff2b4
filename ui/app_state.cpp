#include "ui/app_state.h"

AppState& State() {
  static AppState state;
  return state;
}
