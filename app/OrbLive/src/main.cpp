#include "OrbCompositionRoot.h"

int main(int argc, char** argv)
{
    return OrbLauncherMain(argc, argv);
}
