#include "app/app_state.h"

const char EMPTY_TEXT[] = "";

AppState app;
