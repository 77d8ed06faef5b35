#pragma once

#include <stdexcept>
#include <string>

// A failure of the database engine: its text joins every ODBC diagnostic record of the failing
// handle, in order, trailing white space trimmed. Thrown below the UI, caught by the connect
// routine, the worker's run and the handlers' guard.
class DatabaseError : public std::runtime_error
{
public:
    explicit DatabaseError(const std::string &message)
        : std::runtime_error(message)
    { }
};
