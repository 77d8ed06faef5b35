#include "connection/ResultReader.h"

ResultReader::ResultReader(
    std::shared_ptr<const ResultStore> store, std::vector<ValueText::StoredKind> kinds)
    : m_reader(std::move(store))
    , m_kinds(std::move(kinds))
{ }

bool ResultReader::shownText(int row, int column, int maxChars, QString &out) const
{
    out.resize(0);
    const char *data = nullptr;
    std::size_t length = 0;
    if (!m_reader.value(row, column, data, length))
        return false;
    const ValueText::StoredKind kind = m_kinds[std::size_t(column)];
    // A short value is shown whole: converted into the kept buffer, with no text of its own.
    const bool whole =
        (kind != ValueText::StoredKind::Text && kind != ValueText::StoredKind::Binary)
        || length * 2 <= std::size_t(maxChars);
    if (whole)
        ValueText::appendStoredText(out, kind, data, length);
    else
        out = ValueText::storedDisplayText(kind, data, length, maxChars);
    return true;
}
