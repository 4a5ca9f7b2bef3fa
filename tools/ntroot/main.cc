// ntroot: see ntroot.h.
#include <iostream>

#include "ntroot.h"

int main(int argc, char **argv) {
    return ntroot::Run(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
