#include "results/KeyedRecordFile.h"

#include "connection/ResultStore.h"

#include <QDir>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace {
constexpr std::size_t BufferBytes = std::size_t(1) << 20;
}

KeyedRecordFile::KeyedRecordFile(const QString &what)
    : m_what(what)
{
    const QString folder = ResultStore::defaultSpillFolder();
    QDir().mkpath(folder);
    m_file.setFileTemplate(folder + QStringLiteral("/stelvik-%1-XXXXXX").arg(what));
    if (!m_file.open())
        fail(QStringLiteral("Cannot create the %1's temporary file in %2: %3")
                 .arg(what, folder, m_file.errorString()));
}

void KeyedRecordFile::fail(const QString &message) const
{
    throw std::runtime_error(message.toStdString());
}

void KeyedRecordFile::write(int row, const char *key, std::size_t length)
{
    const auto number = std::int32_t(row);
    const auto size = std::uint32_t(length);
    m_buffer.append(reinterpret_cast<const char *>(&number), sizeof number);
    m_buffer.append(reinterpret_cast<const char *>(&size), sizeof size);
    m_buffer.append(key, length);
    if (m_buffer.size() >= BufferBytes)
        flush();
}

void KeyedRecordFile::flush()
{
    if (!m_buffer.empty()
        && m_file.write(m_buffer.data(), qint64(m_buffer.size())) != qint64(m_buffer.size()))
        fail(QStringLiteral("The %1's temporary file cannot grow: %2")
                 .arg(m_what, m_file.errorString()));
    m_buffer.clear();
}

void KeyedRecordFile::rewind()
{
    flush();
    if (!m_file.seek(0))
        fail(QStringLiteral("Cannot read the %1's temporary file: %2")
                 .arg(m_what, m_file.errorString()));
    m_at = 0;
}

bool KeyedRecordFile::next(int &row, std::string &key)
{
    std::int32_t number = 0;
    std::uint32_t size = 0;
    if (!read(reinterpret_cast<char *>(&number), sizeof number))
        return false;
    if (!read(reinterpret_cast<char *>(&size), sizeof size))
        fail(QStringLiteral("The %1's temporary file ends too early").arg(m_what));
    key.resize(size);
    if (size > 0 && !read(key.data(), size))
        fail(QStringLiteral("The %1's temporary file ends too early").arg(m_what));
    row = number;
    return true;
}

bool KeyedRecordFile::read(char *out, std::size_t bytes)
{
    while (bytes > 0) {
        if (m_at == m_buffer.size()) {
            m_buffer.resize(BufferBytes);
            const qint64 got = m_file.read(m_buffer.data(), qint64(m_buffer.size()));
            if (got < 0)
                fail(QStringLiteral("Cannot read the %1's temporary file: %2")
                         .arg(m_what, m_file.errorString()));
            m_buffer.resize(std::size_t(got));
            m_at = 0;
            if (got == 0)
                return false;
        }
        const std::size_t part = std::min(bytes, m_buffer.size() - m_at);
        std::memcpy(out, m_buffer.data() + m_at, part);
        m_at += part;
        out += part;
        bytes -= part;
    }
    return true;
}
