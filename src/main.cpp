#include "app.h"

int main(int argc, char *argv[])
{
    return moxel::run(argc, argv);
}
