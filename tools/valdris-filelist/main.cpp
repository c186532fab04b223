// valdris-filelist: the publisher's tool that makes a correct file list and proves a server serves it.
#include <iostream>

#include "FileListTool.h"
#include "platform/Console.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return filelisttool::Main(args, std::cout, std::cerr, platform::IsTerminal(platform::Stream::Err));
}
