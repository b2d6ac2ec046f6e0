// SPDX-License-Identifier: MIT
// A non-owning reference to a callable: what a guarded step receives, without copying or
// allocating. The callable must outlive the call (a lambda written in the call does).
#pragma once

#include <functional>
#include <memory>
#include <type_traits>
#include <utility>

namespace workbook {

template <class Signature>
class FunctionRef;

template <class R, class... Args>
class FunctionRef<R(Args...)> {
public:
    template <class F>
    requires(!std::is_same_v<std::remove_cvref_t<F>, FunctionRef> && std::is_invocable_r_v<R, F&, Args...>)
        FunctionRef(F&& f)
    noexcept  // implicit, so that a lambda can be passed as it is
        : m_object(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
          m_call([](void* object, Args... args) -> R {
              return std::invoke(*static_cast<std::add_pointer_t<F>>(object), std::forward<Args>(args)...);
          }) {}

    R operator()(Args... args) const { return m_call(m_object, std::forward<Args>(args)...); }

private:
    void* m_object;
    R (*m_call)(void*, Args...);
};

}  // namespace workbook
