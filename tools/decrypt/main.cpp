#include <iostream>
#include <string>
#include <vector>

#include "decrypt/decrypt_tool.h"
#include "decrypt/tool_files.h"

int main(int argc, char** argv) {
    brimlet::tools::UseBinaryStandardOutput();
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    return brimlet::tools::RunDecryptTool(args, std::cout, std::cerr);
}
