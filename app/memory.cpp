// SPDX-License-Identifier: MIT
#include "app/memory.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <pugixml.hpp>

namespace app {

namespace {

std::atomic<bool> g_exhausted{false};
std::atomic<void*> g_reserve{nullptr};

// The reserve stays untouched until the run is over: a step that goes on after the failure must
// not eat what the way out needs.
void mark_exhausted() {
    g_exhausted.store(true);
}

// operator new's failure: marked, and no second try.
void on_allocation_failure() {
    mark_exhausted();
    throw std::bad_alloc();
}

void* parser_allocate(size_t size) {
    void* p = std::malloc(size);
    if (!p) mark_exhausted();
    return p;
}

void parser_free(void* p) {
    std::free(p);
}

}  // namespace

void install_memory_guard(size_t reserve) {
    g_reserve.store(std::malloc(reserve));
    std::set_new_handler(on_allocation_failure);
    pugi::set_memory_management_functions(parser_allocate, parser_free);
}

bool memory_exhausted() {
    return g_exhausted.load();
}

void reset_memory_exhausted() {
    g_exhausted.store(false);
}

void mark_memory_exhausted() {
    mark_exhausted();
}

void release_memory_reserve() {
    std::free(g_reserve.exchange(nullptr));
}

}  // namespace app
