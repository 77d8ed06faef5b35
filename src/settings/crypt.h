#pragma once

#include <QChar>
#include <QString>

// Scrambling of the stored connection parameters: a shift cipher over a fixed 67-symbol alphabet
// under a fixed 18-symbol key. Both are part of the stored format and never change. Pure
// functions, safe on any thread.

// The 1-based position of c in the alphabet, 0 when c is not a member.
int SymbolIndex(QChar c);
// The scrambled text, as long as plain; a non-member character becomes the key symbol over it.
QString Encrypt(const QString &plain);
// The plain text, as long as scrambled; a non-member comes back as the alphabet's last symbol.
QString Decrypt(const QString &scrambled);
