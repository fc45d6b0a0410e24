#pragma once

#include <QString>

#include <cstdint>
#include <ostream>
#include <stdexcept>
#include <string>
#include <unordered_set>

// Thrown when an entry name is added a second time; the archive written so far stays valid.
class TarDuplicateException : public std::runtime_error {
public:
    explicit TarDuplicateException(const std::string& name);
};

// Appends regular-file entries in ustar form to a binary output stream it does not own.
// Use: any number of put/putFile, then finish.
class TarWriter {
public:
    explicit TarWriter(std::ostream* stream);
    ~TarWriter();
    TarWriter(const TarWriter&) = delete;
    TarWriter& operator=(const TarWriter&) = delete;

    void put(const char* name, const char* data, std::int64_t length);
    void putFile(const QString& sourcePath, const char* name);
    // Writes the end-of-archive blocks and reports a stream that failed at any point.
    void finish();
    // True when put and putFile would take this name (apart from duplicates): callers that may
    // skip an entry tell a name that cannot be stored from a failure of the data.
    static bool acceptsName(const char* name);

private:
    void refuseDuplicate(const char* name) const;
    void writeHeader(const char* name, std::int64_t length);
    void writePadding(std::int64_t length);

    bool finished = false;
    std::ostream* stream;
    std::unordered_set<std::string> writtenNames;
};
