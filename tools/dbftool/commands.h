// dbftool: table maintenance for the people who keep the reference tables.
//
//   dbftool info TABLE
//   dbftool dump TABLE [--deleted]
//   dbftool create TABLE SCHEMA [--format fox2|vfp|db3] [--codepage 1252|437|850]
//   dbftool load TABLE CSV
//   dbftool index TABLE TAG EXPR [--descending] [--unique]
//   dbftool seek TABLE TAG KEY
//   dbftool check TABLE
//   dbftool pack TABLE
//
// Exit codes: 0 success, 1 not found (seek) or check failed, 2 usage or I/O error; every failure prints
// one line on stderr.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace dbftool {

enum ExitCode { kOk = 0, kNotFound = 1, kCheckFailed = 1, kError = 2 };

// Runs one command (args without the program name); output to out, messages to err.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The usage text.
std::string usage();

}  // namespace dbftool
