// Starting the real programs from tests: one spawn with a chosen environment and redirected
// standard streams, and the environment of the test process less the variables a test must set.
#pragma once

#include <sys/types.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace pv::test {

// The environment of this process without every variable whose "NAME=" starts one of prefixes.
std::vector<std::string> EnvironmentWithout(std::initializer_list<const char*> prefixes);

// Starts program with args (argv[0] is the program) and exactly env. Standard error goes to
// errFile; standard output to outFile and standard input from /dev/null when outFile is not
// empty, else both stay the test's. Returns the child's pid, or -1 when it could not start.
pid_t SpawnProgram(const char* program, const std::vector<std::string>& args,
                   std::vector<std::string> env, const std::string& errFile,
                   const std::string& outFile = "");

// The exit status of a waited-for child as a shell shows it (128 + signal when killed).
int ExitStatus(int waitStatus);

}  // namespace pv::test
