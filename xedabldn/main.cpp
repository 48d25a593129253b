#include "xedabldn.h"

int main(int argc, char* argv[])
{
    return XedabldnMain(argc, argv);
}
