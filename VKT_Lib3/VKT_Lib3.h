#pragma once
#include "VKT_Lib3/Globals.h"
#include "VKT_Lib3/ScreenText.h"
#include "VKT_Lib3/StatusLine.h"
#include "VKT_Lib3/Terminal.h"
