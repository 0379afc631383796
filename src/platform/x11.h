#pragma once

// The xcb helpers every X11 part of the program shares: the connection Qt
// opened, atoms, replies and properties. X11 builds only.

#include <QList>

#include <xcb/xcb.h>

#include <cstdlib>
#include <initializer_list>
#include <memory>

namespace moxel::x11 {

struct FreeDeleter
{
    void operator()(void *p) const { std::free(p); }
};
// A reply owned as xcb hands it over: to be freed with free().
template<typename T> using Reply = std::unique_ptr<T, FreeDeleter>;

// Qt's connection, or none when the program does not run on X11.
xcb_connection_t *connection();
// Interned once per name and process.
xcb_atom_t atom(xcb_connection_t *c, const char *name);
xcb_window_t defaultRoot(xcb_connection_t *c);
xcb_window_t rootOf(xcb_connection_t *c, xcb_window_t window);
// Whether the running window manager lists `name` in _NET_SUPPORTED. A bare
// X server, or a window manager that publishes nothing, supports nothing.
bool wmSupports(xcb_connection_t *c, xcb_window_t root, const char *name);
// The 32-bit values of a property, at most `count` of them.
QList<uint32_t> values32(xcb_connection_t *c, xcb_window_t window, const char *name,
                         xcb_atom_t type, uint32_t count);
// A client message about `window` to the window manager, as EWMH asks for.
void sendToRoot(xcb_connection_t *c, xcb_window_t window, const char *type,
                std::initializer_list<uint32_t> data);

} // namespace moxel::x11
