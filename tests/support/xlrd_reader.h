#pragma once
// Reads a workbook with an independent reader: Debian's python3-xlrd, through tests/read_with_xlrd.py.
// Debian's own interpreter is called by its full path, since another python3 may come first on PATH.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace zelkor::testing {

inline bool XlrdAvailable()
{
    return std::system("/usr/bin/python3 -c 'import xlrd' 2>/dev/null") == 0;
}

struct XlrdResult {
    int status = -1;       // the script's exit status; 0 when it read the file
    std::string output;    // what it printed of the cells
    std::string warnings;  // what xlrd complained about on stderr
};

inline XlrdResult ReadWithXlrd(const std::string& script, const std::string& workbookPath)
{
    XlrdResult result;
    const std::string errors = workbookPath + ".err";
    const std::string command = "/usr/bin/python3 '" + script + "' '" + workbookPath + "' 2>'" + errors + "'";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return result;
    char buf[4096];
    while (std::fgets(buf, sizeof buf, pipe))
        result.output += buf;
    result.status = pclose(pipe);
    std::ifstream err(errors);
    result.warnings.assign(std::istreambuf_iterator<char>(err), std::istreambuf_iterator<char>());
    std::remove(errors.c_str());
    return result;
}

}  // namespace zelkor::testing
