#pragma once

// Status and Result: how expected failures travel.
//
// A Status is the system's own failure code (0 = success, negative = failure, for example -20
// when a database file is missing) together with the text shown to the user. A Result<T> holds
// either the value or the Status that explains why there is none:
//
//     Result<int> count = table.count();
//     if (const Status* s = failure(count))
//         return *s;
//     use(value(count));

#include <QString>

#include <utility>
#include <variant>

namespace mox {

struct [[nodiscard]] Status {
    int code = 0;    // 0 ok; otherwise the system's own code, e.g. -20
    QString message; // shown to the user as is

    static Status success() { return {}; }
    static Status failure(int code, QString message) { return Status{code, std::move(message)}; }
    bool ok() const { return code == 0; }
};

template <class T> using Result = std::variant<T, Status>;

template <class T> const Status* failure(const Result<T>& r)
{
    return std::get_if<Status>(&r);
}

template <class T> const T& value(const Result<T>& r)
{
    return std::get<T>(r);
}

template <class T> T& value(Result<T>& r)
{
    return std::get<T>(r);
}

} // namespace mox
