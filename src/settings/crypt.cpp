#include "settings/crypt.h"

namespace {

constexpr int alphabetSize = 67;
constexpr int keySize = 18;

// Alphabet and key, built once on first use and never changed afterwards.
struct Tables
{
    QString alphabet;
    QString key;

    Tables()
    {
        // The order is part of the stored format: a value scrambled under another order
        // does not read back.
        alphabet = QStringLiteral("qwertyuiopasdfghjklzxcvbnm"
                                  "0123456789"
                                  "MNBVCXZLKJHGFDSAPOIUYTREWQ"
                                  " =\r\n-");
        Q_ASSERT(alphabet.size() == alphabetSize);

        // The key is never stored whole: it is picked from the alphabet by position.
        const auto at = [this](int position) { return alphabet.at(position - 1); };
        const auto pair = [&](int first, int second) {
            key += at(first);
            key += at(second);
        };
        key += at(41);
        pair(7, 58);
        pair(33, 12);
        pair(64, 25);
        pair(3, 49);
        pair(19, 36);
        pair(55, 1);
        pair(28, 44);
        pair(10, 67);
        key += at(22);
        Q_ASSERT(key.size() == keySize);
    }
};

const Tables &tables()
{
    static const Tables instance;
    return instance;
}

// Position of the key symbol over 0-based text position i: always 1..67.
int keyShift(int i)
{
    return SymbolIndex(tables().key.at(i % keySize));
}

} // namespace

int SymbolIndex(QChar c)
{
    return int(tables().alphabet.indexOf(c, 0, Qt::CaseSensitive)) + 1;
}

QString Encrypt(const QString &plain)
{
    const QString &alphabet = tables().alphabet;
    QString result(plain.size(), Qt::Uninitialized);
    for (int i = 0; i < plain.size(); ++i) {
        int s = SymbolIndex(plain.at(i)) + keyShift(i);
        if (s > alphabetSize)
            s -= alphabetSize;
        result[i] = alphabet.at(s - 1);
    }
    return result;
}

QString Decrypt(const QString &scrambled)
{
    const QString &alphabet = tables().alphabet;
    QString result(scrambled.size(), Qt::Uninitialized);
    for (int i = 0; i < scrambled.size(); ++i) {
        int d = SymbolIndex(scrambled.at(i)) - keyShift(i);
        if (d < 1)
            d += alphabetSize;
        // Only text that Encrypt did not write can get here with a non-member under the last
        // key symbol (d == 0); it reads as the last symbol, like every other non-member.
        if (d < 1)
            d = alphabetSize;
        result[i] = alphabet.at(d - 1);
    }
    return result;
}
