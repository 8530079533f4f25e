// A program that schedules its own removal and exits, as the uninstaller and
// the updater do when they close.
#include <windows.h>

#include "SelfDelete.h"

int wmain()
{
    ScheduleSelfDelete();
    return 0;
}
