#include "console/startup.h"

int main(int argc, char** argv)
{
    return tarnveil::runTarnveil(argc, argv);
}
