#include "app/UpdateApp.h"

CUpdateApp theApp;

int main()
{
    return win::AfxWinMain();
}
