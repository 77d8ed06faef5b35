#pragma once

#include <QString>
#include <QTemporaryFile>

#include <cstddef>
#include <string>

// Records with their byte keys in a temporary file of the spill folder, written once and read
// back front to back: the sorted runs of the external sort and the sorted sides of a compare.
// Each record is its number, its key's length and its key. Raises std::runtime_error with a
// message naming `what` ("sort", "compare") when the file cannot be made, grow or be read.
class KeyedRecordFile
{
public:
    explicit KeyedRecordFile(const QString &what);

    void write(int row, const char *key, std::size_t length);
    // Ends the writing; the reading starts at the first record.
    void rewind();
    // The next record and its key; false at the end.
    bool next(int &row, std::string &key);

private:
    [[noreturn]] void fail(const QString &message) const;
    void flush();
    bool read(char *out, std::size_t bytes);

    QString m_what;
    QTemporaryFile m_file;
    std::string m_buffer;
    std::size_t m_at = 0;
};
