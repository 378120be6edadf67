// Runs a program through the shell as its users would, keeping what it printed and its exit status.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace tools_test {

struct Outcome {
    int status;
    std::string out;
    std::string err;
};

// Standard output is read through a pipe; standard error goes to errFile and is read back from it.
inline Outcome RunCommand(const std::string& command, const std::string& errFile) {
    Outcome run;
    FILE* pipe = ::popen((command + " 2>" + errFile).c_str(), "r");
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) run.out.append(buf, n);
    run.status = WEXITSTATUS(::pclose(pipe));
    std::ifstream err(errFile);
    run.err.assign(std::istreambuf_iterator<char>(err), {});
    return run;
}

}  // namespace tools_test
