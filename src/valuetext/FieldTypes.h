#pragma once

// Field type codes of the result layer; the value-text rules group them.
namespace FieldTypes {
enum : int {
    String = 1,
    SmallInt = 2,
    Integer = 3,
    Word = 4,
    Boolean = 5,
    Float = 6,
    Currency = 7,
    BCD = 8,
    Date = 9,
    Time = 10,
    DateTime = 11,
    Bytes = 12,
    VarBytes = 13,
    AutoInc = 14,
    Blob = 15,
    Memo = 16,
    LargeInt = 25,
    Unknown = 0
};
} // namespace FieldTypes
