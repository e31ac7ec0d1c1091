#include "help.h"

int ShowHelpContents(HWND /*window*/)
{
    return 1;
}

int CloseHelpWindows()
{
    return 1;
}

int ShowAboutBox(HWND /*owner*/)
{
    return 1;
}
