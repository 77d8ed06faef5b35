#include "compare/ResultCompare.h"

#include "connection/QueryDataset.h"
#include "connection/ResultReader.h"
#include "connection/ResultStore.h"
#include "results/KeyedRecordFile.h"
#include "results/RowOrder.h"
#include "results/TextSort.h"
#include "valuetext/FieldTypes.h"

#include <QMetaObject>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

using ValueText::StoredKind;

namespace {

constexpr int BlockRows = 1000;

bool isNumber(StoredKind kind)
{
    return kind == StoredKind::Int64 || kind == StoredKind::Double || kind == StoredKind::Decimal;
}

// A column of both sides: where it is on each, and whether its values compare as numbers.
struct Pair
{
    int left = -1;
    int right = -1;
    bool numbers = false;
};

// The bytes a value compares by: its text (UTF-8), or for a column of numbers the bytes of its
// decimal value, so that 1.0 and 1 are the same. False for NULL.
bool compareForm(
    const ResultReader &reader, int row, int column, bool numbers, std::string &out, QString &text)
{
    out.clear();
    const char *data = nullptr;
    std::size_t length = 0;
    if (!reader.value(row, column, data, length))
        return false;
    const StoredKind kind = reader.kind(column);
    if (kind == StoredKind::Text && !numbers) {
        out.assign(data, length);
        return true;
    }
    text.resize(0);
    ValueText::appendStoredText(text, kind, data, length);
    const QByteArray utf8 = text.toUtf8();
    out = numbers ? RowOrder::decimalKey(utf8.constData(), std::size_t(utf8.size()))
                  : std::string(utf8.constData(), std::size_t(utf8.size()));
    return true;
}

// A row's key as bytes without a zero: per key column 0x01 for NULL, else 0x02, the value's
// form with the bytes 0x00-0x02 written as 0x02 and the byte plus three, and 0x01. Two keys are
// the same bytes exactly when their values are the same.
template <typename Bytes>
void appendKey(const ResultReader &reader, int row, const std::vector<Pair> &keys, bool left,
    Bytes &out, std::string &form, QString &text)
{
    for (const Pair &key : keys) {
        if (!compareForm(reader, row, left ? key.left : key.right, key.numbers, form, text)) {
            out.push_back(0x01);
            continue;
        }
        out.push_back(0x02);
        for (const char c : form) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte <= 0x02) {
                out.push_back(0x02);
                out.push_back(static_cast<typename Bytes::value_type>(byte + 3));
            } else {
                out.push_back(static_cast<typename Bytes::value_type>(byte));
            }
        }
        out.push_back(0x01);
    }
}

// Whether the row takes part on its side (one alias of a merged result, or every row).
bool takesPart(const ResultCompare::Side &side, int row, QString &text)
{
    if (side.filterColumn < 0)
        return true;
    const char *data = nullptr;
    std::size_t length = 0;
    if (!side.rows->value(row, side.filterColumn, data, length))
        return false;
    text.resize(0);
    ValueText::appendStoredText(text, side.rows->kind(side.filterColumn), data, length);
    return text == side.filterText;
}

// A 64-bit FNV-1a hash of a row's compared values (forms), so that a row pair's equality is known
// from the sorted keys alone, without reading the rows again.
class ValueHash
{
public:
    void add(const char *data, std::size_t length)
    {
        for (std::size_t i = 0; i < length; ++i) {
            m_value ^= static_cast<unsigned char>(data[i]);
            m_value *= 0x100000001b3ULL;
        }
    }
    void addValue(bool present, const std::string &form)
    {
        const char tag = present ? 1 : 0;
        add(&tag, 1);
        const auto length = std::uint32_t(form.size());
        add(reinterpret_cast<const char *>(&length), sizeof length);
        add(form.data(), form.size());
    }
    // As sixteen hexadecimal digits: bytes that are never zero, for the end of a sort key.
    template <typename Bytes>
    void appendTo(Bytes &out) const
    {
        for (int shift = 60; shift >= 0; shift -= 4)
            out.push_back(static_cast<typename Bytes::value_type>(
                "0123456789abcdef"[(m_value >> shift) & 0xF]));
    }

private:
    std::uint64_t m_value = 0xcbf29ce484222325ULL;
};
constexpr std::size_t HashBytes = 16;

} // namespace

struct ResultCompare::Plan
{
    Side left;
    Side right;
    std::vector<Pair> keys;
    std::vector<Pair> compared;
    std::vector<QString> comparedTitles;
    std::vector<bool> keyCopied; // the key's kind is the same on both sides: its bytes are copied
    bool keepSame = false;
};

ResultCompare::Side ResultCompare::sideOf(const QueryDataset &dataset, const QString &label)
{
    Side side;
    side.label = label;
    for (int f = 0; f < dataset.FieldCount(); ++f)
        side.columns.push_back({ dataset.FieldTitle(f), dataset.FieldType(f),
            dataset.DisplayWidth(f), dataset.fieldKind(f) });
    side.rows = dataset.reader();
    return side;
}

ResultCompare::ResultCompare(std::size_t storeBudget, QObject *parent)
    : QObject(parent)
    , m_storeBudget(storeBudget)
    , m_runBytes(RowOrder::DefaultRunBytes)
{ }

ResultCompare::~ResultCompare()
{
    stop();
    if (m_thread.joinable())
        m_thread.join();
}

bool ResultCompare::start(Side left, Side right, const QStringList &keys, bool keepSame)
{
    const auto fail = [this](const QString &message) {
        m_error = message;
        return false;
    };
    if (m_running || m_thread.joinable())
        return fail(QStringLiteral("This compare has already run."));
    for (const Side *side : { &left, &right })
        if (!side->rows)
            return fail(QStringLiteral("The result %1 is not fetched whole yet: compare it once "
                                       "all its rows are there.")
                            .arg(side->label));
    if (keys.isEmpty())
        return fail(QStringLiteral("Choose the key columns the rows are matched on."));

    const auto find = [](const Side &side, const QString &name) {
        for (int c = 0; c < int(side.columns.size()); ++c)
            if (c != side.filterColumn
                && side.columns[std::size_t(c)].title.compare(name, Qt::CaseInsensitive) == 0)
                return c;
        return -1;
    };
    auto plan = std::make_shared<Plan>();
    plan->keepSame = keepSame;
    const auto pairOf = [&](int l, int r) {
        return Pair { l, r,
            isNumber(left.columns[std::size_t(l)].kind)
                || isNumber(right.columns[std::size_t(r)].kind) };
    };
    for (const QString &key : keys) {
        const int l = find(left, key);
        const int r = find(right, key);
        if (l < 0 || r < 0)
            return fail(QStringLiteral("The key column %1 is not in the result %2.")
                            .arg(key, l < 0 ? left.label : right.label));
        plan->keys.push_back(pairOf(l, r));
        plan->keyCopied.push_back(
            left.columns[std::size_t(l)].kind == right.columns[std::size_t(r)].kind);
    }
    m_notCompared.clear();
    for (int l = 0; l < int(left.columns.size()); ++l) {
        const QString &title = left.columns[std::size_t(l)].title;
        if (l == left.filterColumn || find(left, title) != l)
            continue;
        const bool isKey = std::any_of(
            plan->keys.begin(), plan->keys.end(), [l](const Pair &key) { return key.left == l; });
        const int r = find(right, title);
        if (r < 0)
            m_notCompared << QStringLiteral("%1 (%2)").arg(title, left.label);
        else if (!isKey) {
            plan->compared.push_back(pairOf(l, r));
            plan->comparedTitles.push_back(title);
        }
    }
    for (int r = 0; r < int(right.columns.size()); ++r)
        if (r != right.filterColumn && find(left, right.columns[std::size_t(r)].title) < 0)
            m_notCompared << QStringLiteral("%1 (%2)").arg(
                right.columns[std::size_t(r)].title, right.label);

    std::vector<ResultFeed::Column> columns;
    columns.push_back({ statusColumn(), FieldTypes::String, 10, StoredKind::Text });
    columns.push_back({ changedColumn(), FieldTypes::String, 20, StoredKind::Text });
    for (std::size_t k = 0; k < plan->keys.size(); ++k) {
        ResultFeed::Column column = left.columns[std::size_t(plan->keys[k].left)];
        if (!plan->keyCopied[k]) {
            column.type = FieldTypes::String;
            column.kind = StoredKind::Text;
        }
        columns.push_back(column);
    }
    for (const Pair &pair : plan->compared)
        for (const Side *side : { &left, &right }) {
            ResultFeed::Column column =
                side->columns[std::size_t(side == &left ? pair.left : pair.right)];
            column.title = QStringLiteral("%1 (%2)").arg(column.title, side->label);
            columns.push_back(column);
        }
    m_keyCount = int(plan->keys.size());
    m_comparedColumns.clear();
    for (const QString &title : plan->comparedTitles)
        m_comparedColumns << title;
    plan->left = std::move(left);
    plan->right = std::move(right);

    m_feed = std::make_shared<ResultFeed>(std::move(columns));
    m_result = std::make_unique<QueryDataset>(m_storeBudget);
    m_result->openFeed(m_feed);
    m_error.clear();
    m_counts = Counts();
    m_stop = false;
    m_running = true;
    m_thread = std::thread(&ResultCompare::run, this, std::move(plan), m_feed);
    return true;
}

void ResultCompare::stop()
{
    m_stop = true;
    if (m_feed)
        m_feed->stopProducers();
}

bool ResultCompare::isRunning() const
{
    return m_running;
}

std::unique_ptr<QueryDataset> ResultCompare::takeResult()
{
    return std::move(m_result);
}

ResultCompare::Counts ResultCompare::counts() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_counts;
}

QString ResultCompare::error() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_error;
}

QString ResultCompare::summary(const Counts &counts)
{
    QString text = QStringLiteral("%1 only left, %2 only right, %3 changed, %4 same")
                       .arg(counts.onlyLeft)
                       .arg(counts.onlyRight)
                       .arg(counts.changed)
                       .arg(counts.same);
    if (counts.repeatedLeft > 0 || counts.repeatedRight > 0)
        text += QStringLiteral("; keys repeated: %1 left, %2 right")
                    .arg(counts.repeatedLeft)
                    .arg(counts.repeatedRight);
    return text;
}

void ResultCompare::run(std::shared_ptr<Plan> plan, std::shared_ptr<ResultFeed> feed)
{
    Counts counts;
    QString error;
    try {
        const Plan &p = *plan;
        QString text;
        std::string form;
        // Each side's rows that take part, in the order of their keys, each key followed by the
        // hash of the row's compared values; in a file, so that the rows are never read again
        // but those shown.
        // One side's records in key order, each with its sort key.
        KeyedRecordFile sorted[2] { KeyedRecordFile(QStringLiteral("compare")),
            KeyedRecordFile(QStringLiteral("compare")) };
        for (int s = 0; s < 2; ++s) {
            const Side &side = s == 0 ? p.left : p.right;
            std::vector<int> skipped;
            const auto keyOf = [&](int row, std::vector<std::uint8_t> &bytes) {
                if (!takesPart(side, row, text))
                    return false;
                appendKey(*side.rows, row, p.keys, s == 0, bytes, form, text);
                ValueHash hash;
                for (const Pair &pair : p.compared) {
                    const bool present = compareForm(
                        *side.rows, row, s == 0 ? pair.left : pair.right, pair.numbers, form, text);
                    hash.addValue(present, form);
                }
                hash.appendTo(bytes);
                return true;
            };
            const auto hand = [&](int row, const char *key, std::size_t length) {
                sorted[s].write(row, key, length);
            };
            if (!RowOrder::sortKeys(
                    side.rows->rowCount(), keyOf, false, m_stop, hand, skipped, m_runBytes))
                throw std::runtime_error("Stopped.");
            sorted[s].rewind();
        }

        ResultStore::Block block = feed->newBlock(BlockRows);
        std::string leftForm;
        std::string rightForm;
        QByteArray changedNames;
        const auto push = [&] {
            if (!feed->push(std::move(block)))
                return false;
            if (!m_arrivalPosted.exchange(true))
                QMetaObject::invokeMethod(
                    this,
                    [this] {
                        m_arrivalPosted = false;
                        emit rowsArrived();
                    },
                    Qt::QueuedConnection);
            return true;
        };
        const auto addText = [&](int column, const QString &value) {
            const QByteArray utf8 = value.toUtf8();
            block.addValue(column, utf8.constData(), std::size_t(utf8.size()));
        };
        const auto copy = [&](const Side &side, int row, int from, int to, bool asText) {
            const char *data = nullptr;
            std::size_t length = 0;
            if (row < 0 || !side.rows->value(row, from, data, length)) {
                block.addNull(to);
            } else if (asText) {
                text.resize(0);
                ValueText::appendStoredText(text, side.rows->kind(from), data, length);
                addText(to, text);
            } else {
                block.addValue(to, data, length);
            }
        };
        // One row of the result: l and r are the rows of each side, -1 where there is none;
        // equal: their compared values are the same.
        const auto emitRow = [&](int l, int r, bool equal) {
            changedNames.clear();
            if (l >= 0 && r >= 0 && !equal) {
                for (std::size_t c = 0; c < p.compared.size(); ++c) {
                    const Pair &pair = p.compared[c];
                    const bool leftValue =
                        compareForm(*p.left.rows, l, pair.left, pair.numbers, leftForm, text);
                    const bool rightValue =
                        compareForm(*p.right.rows, r, pair.right, pair.numbers, rightForm, text);
                    if (leftValue != rightValue || leftForm != rightForm) {
                        if (!changedNames.isEmpty())
                            changedNames += ", ";
                        changedNames += p.comparedTitles[c].toUtf8();
                    }
                }
            }
            if (l >= 0 && r >= 0) {
                if (changedNames.isEmpty()) {
                    ++counts.same;
                    if (!p.keepSame)
                        return true;
                } else {
                    ++counts.changed;
                }
            } else {
                ++(l >= 0 ? counts.onlyLeft : counts.onlyRight);
            }
            addText(0,
                l < 0                        ? onlyRight()
                    : r < 0                  ? onlyLeft()
                    : changedNames.isEmpty() ? same()
                                             : changed());
            if (changedNames.isEmpty())
                block.addNull(1);
            else
                block.addValue(1, changedNames.constData(), std::size_t(changedNames.size()));
            int to = 2;
            for (std::size_t k = 0; k < p.keys.size(); ++k, ++to) {
                if (l >= 0)
                    copy(p.left, l, p.keys[k].left, to, !p.keyCopied[k]);
                else
                    copy(p.right, r, p.keys[k].right, to, !p.keyCopied[k]);
            }
            for (const Pair &pair : p.compared) {
                copy(p.left, l, pair.left, to++, false);
                copy(p.right, r, pair.right, to++, false);
            }
            block.endRow();
            if (block.rows() == BlockRows) {
                if (!push())
                    return false;
                block = feed->newBlock(BlockRows);
            }
            return true;
        };

        // The merge join, one key at a time: the rows of a key on each side (more than one
        // where a key repeats) pair first with a row of the same values, then in order; the
        // rest are on their side only.
        struct Keyed
        {
            int row;
            std::string hash;
        };
        std::string key[2];
        std::string next[2];
        int nextRow[2] = { -1, -1 };
        bool has[2];
        for (int s = 0; s < 2; ++s)
            has[s] = sorted[s].next(nextRow[s], next[s]);
        std::vector<Keyed> group[2];
        std::size_t done = 0;
        while (has[0] || has[1]) {
            if (++done % 1024 == 0 && m_stop.load(std::memory_order_relaxed))
                throw std::runtime_error("Stopped.");
            // The smaller key of the two sides' next rows, and every row of each side with it.
            const auto keyPart = [](const std::string &sortKey) {
                return std::string_view(sortKey).substr(0, sortKey.size() - HashBytes);
            };
            const int order = !has[0] ? 1
                : !has[1]             ? -1
                                      : keyPart(next[0]).compare(keyPart(next[1]));
            for (int s = 0; s < 2; ++s) {
                group[s].clear();
                if (!has[s] || (s == 0 ? order > 0 : order < 0))
                    continue;
                key[s].assign(keyPart(next[s]));
                while (has[s] && keyPart(next[s]) == key[s]) {
                    group[s].push_back({ nextRow[s], next[s].substr(next[s].size() - HashBytes) });
                    has[s] = sorted[s].next(nextRow[s], next[s]);
                }
                if (group[s].size() > 1)
                    (s == 0 ? counts.repeatedLeft : counts.repeatedRight) +=
                        qint64(group[s].size() - 1);
            }
            if (group[0].size() == 1 && group[1].size() == 1) {
                if (!emitRow(
                        group[0][0].row, group[1][0].row, group[0][0].hash == group[1][0].hash))
                    throw std::runtime_error("Stopped.");
                continue;
            }
            // Within a key the rows are in the order of their hashes: equal ones pair as the same.
            std::vector<int> rest[2];
            std::size_t i = 0;
            std::size_t j = 0;
            while (i < group[0].size() || j < group[1].size()) {
                const int by = i == group[0].size() ? 1
                    : j == group[1].size()          ? -1
                                                    : group[0][i].hash.compare(group[1][j].hash);
                if (by == 0) {
                    if (!emitRow(group[0][i++].row, group[1][j++].row, true))
                        throw std::runtime_error("Stopped.");
                } else if (by < 0) {
                    rest[0].push_back(group[0][i++].row);
                } else {
                    rest[1].push_back(group[1][j++].row);
                }
            }
            for (std::size_t k = 0; k < std::max(rest[0].size(), rest[1].size()); ++k)
                if (!emitRow(k < rest[0].size() ? rest[0][k] : -1,
                        k < rest[1].size() ? rest[1][k] : -1, false))
                    throw std::runtime_error("Stopped.");
        }
        if (block.rows() > 0 && !push())
            throw std::runtime_error("Stopped.");
    } catch (const std::exception &e) {
        error = QString::fromUtf8(e.what());
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_counts = counts;
        m_error = error;
    }
    feed->finish();
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_running = false;
            emit finished();
        },
        Qt::QueuedConnection);
}
