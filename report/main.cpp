#include <iostream>

#include "report.h"

int main(int argc, char* argv[])
{
    return report::ReportMain(argc, argv, std::cout, std::cerr);
}
