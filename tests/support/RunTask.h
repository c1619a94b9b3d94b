#pragma once

#include "base/Task.h"

#include <exception>
#include <functional>
#include <optional>
#include <type_traits>

namespace halcyra {

// Runs `task` on `loop` to its end, calling `iterate` (one turn of the loop) while it waits, and
// gives its result; an exception it threw is thrown here.
template <typename T>
T runTask(RunLoop& loop, Task<T> task, const std::function<void()>& iterate)
{
    using Stored = std::conditional_t<std::is_void_v<T>, bool, T>;
    std::optional<Stored> result;
    std::exception_ptr exception;
    bool isDone = false;
    auto wrapper = [](Task<T> task, std::optional<Stored>& result, std::exception_ptr& exception, bool& isDone) -> Task<void> {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await std::move(task);
                result = true;
            } else
                result = co_await std::move(task);
        } catch (...) {
            exception = std::current_exception();
        }
        isDone = true;
    };
    auto handle = spawn(loop, wrapper(std::move(task), result, exception, isDone));
    while (!isDone)
        iterate();
    if (exception)
        std::rethrow_exception(exception);
    if constexpr (!std::is_void_v<T>)
        return std::move(*result);
}

}
