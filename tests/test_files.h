// Small file helpers shared by the test programs.
#pragma once

#include <string>

// A fresh, empty folder under the temporary folder that is the current
// directory for as long as the object lives.
class ScopedWorkDir {
public:
    ScopedWorkDir();
    ~ScopedWorkDir();
    const std::string& path() const { return path_; }

private:
    std::string path_;
    std::string previous_;
};

// A Linux path, as ctest passes it, as a path on Wine's drive Z:; any other
// path as it is.
std::string WindowsPath(const std::string& path);

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
