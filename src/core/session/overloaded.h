#pragma once

namespace mc {

// One visitor from several lambdas, for std::visit over a reply.
template <class... Handlers> struct Overloaded : Handlers... { using Handlers::operator()...; };
// Older clang lacks class template argument deduction for aggregates.
template <class... Handlers> Overloaded(Handlers...) -> Overloaded<Handlers...>;

} // namespace mc
