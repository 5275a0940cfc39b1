// Screens that later work fills in. Until then a choice runs its connection
// bracket and comes straight back to the menu.
#include "console/Console.h"

