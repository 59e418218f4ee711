#include "app/Startup.h"
#include "app/TidewellApplication.h"

int main(int argc, char **argv)
{
    TTidewellApplication app(argc, argv);
    return RunTidewell(app);
}
