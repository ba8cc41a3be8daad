#ifndef RSPFILE_H
#define RSPFILE_H

#include <fstream>
#include <string>
#include <utility>
#include <vector>

// The "key = value" lines of a NIST response file (*.rsp), in order; comments and
// [section] lines left out. False when the file cannot be read, so that a missing
// vector file fails instead of giving no vectors. Plain C++: the driver without Qt
// reads them too.
inline bool readRspFile(const std::string &path, std::vector<std::pair<std::string, std::string>> *fields)
{
    std::ifstream in(path);
    if (!in)
        return false;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        const size_t eq = line.find(" = ");
        if (line.empty() || line[0] == '#' || line[0] == '[' || eq == std::string::npos)
            continue;
        fields->emplace_back(line.substr(0, eq), line.substr(eq + 3));
    }
    return true;
}

#endif
