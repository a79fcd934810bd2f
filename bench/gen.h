// Realistic registry exports for the benchmarks: what `reg export` writes
// (UTF-16LE with a byte-order mark, CRLF line ends) for a machine with n
// FTDI adapters, plus devices and services of other kinds around them.
#pragma once

#include <string>

// Replaces out with the export of a machine with n adapters. The same n
// always gives the same bytes.
void genexport(int n, std::string &out);
