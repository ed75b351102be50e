// MPRIS over GDBus on a thread of its own. Everything D-Bus happens on that
// thread, inside its GMainContext: the calls (synchronous, with a timeout,
// which only ever hold up this thread), and the signals it subscribes to,
// which GDBus dispatches to the context that was the thread's default when
// they were subscribed. The frame thread sees only the mailbox.
#include "lv/mpris.h"

#include <gio/gio.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

namespace lv {

namespace {

constexpr const char* kPrefix = "org.mpris.MediaPlayer2";
constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";
constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";
// A player that does not answer within this is skipped; only the watcher waits.
constexpr int kCallTimeoutMs = 2000;

struct PlayerState {
    std::string owner;   // the unique name that sends its signals
    std::string title, artist, album, artUrl, trackId;
    long long lengthUs = -1;
    bool playing = false;
    unsigned long long playedAt = 0;   // when it last started playing, in the watcher's count; 0 never
    bool read = false;                 // its properties answered at least once
};

struct VariantUnref {
    void operator()(GVariant* v) const { g_variant_unref(v); }
};
using Variant = std::unique_ptr<GVariant, VariantUnref>;

std::string stringOf(GVariant* v) {
    if (!v) return "";
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_STRING) || g_variant_is_of_type(v, G_VARIANT_TYPE_OBJECT_PATH))
        return g_variant_get_string(v, nullptr);
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_STRING_ARRAY)) {
        // Several artists are one line, as tags with several values read.
        std::string all;
        gsize n = 0;
        const gchar** items = g_variant_get_strv(v, &n);
        for (gsize i = 0; i < n; ++i) all += (i ? ", " : "") + std::string(items[i]);
        g_free(items);
        return all;
    }
    return "";
}

// mpris:length is an int64 of microseconds, but players send other numbers too.
long long microsecondsOf(GVariant* v) {
    if (!v) return -1;
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_INT64)) return g_variant_get_int64(v);
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_UINT64)) return (long long)g_variant_get_uint64(v);
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_INT32)) return g_variant_get_int32(v);
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_UINT32)) return g_variant_get_uint32(v);
    if (g_variant_is_of_type(v, G_VARIANT_TYPE_DOUBLE)) return (long long)g_variant_get_double(v);
    return -1;
}

void readMetadata(GVariant* dict, PlayerState& p) {
    auto field = [dict](const char* key) { return Variant(g_variant_lookup_value(dict, key, nullptr)); };
    p.title = stringOf(field("xesam:title").get());
    p.artist = stringOf(field("xesam:artist").get());
    p.album = stringOf(field("xesam:album").get());
    p.artUrl = stringOf(field("mpris:artUrl").get());
    p.trackId = stringOf(field("mpris:trackid").get());
    p.lengthUs = microsecondsOf(field("mpris:length").get());
}

// The bus's own address, without GLib's fallback of starting a bus through
// the X server (dbus-launch), which would leave a daemon behind.
std::string sessionBusAddress() {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address) return address;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) return "";
    const std::string path = std::string(runtime) + "/bus";
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return "";
    gchar* escaped = g_dbus_address_escape_value(path.c_str());
    std::string out = std::string("unix:path=") + escaped;
    g_free(escaped);
    return out;
}

}  // namespace

bool mprisNameMatches(const std::string& busName, const std::string& player) {
    if (player.empty()) return true;
    if (busName == player) return true;
    const std::string base = std::string(kPrefix) + "." + player;
    return busName == base || busName.compare(0, base.size() + 1, base + ".") == 0;
}

struct MprisWatcher::Impl {
    std::string filter;
    std::thread thread;
    std::atomic<bool> stopping{false};
    GMainContext* context = nullptr;
    GCancellable* cancellable = nullptr;

    // The watcher thread's own.
    GDBusConnection* bus = nullptr;
    std::map<std::string, PlayerState> players;   // by well-known name
    unsigned long long starts = 0;
    std::string shownKey;   // bus name, title and track id of what was handed on last
    bool shownOnce = false;
    std::string coverUrl;   // the art URL read last, and what it gave
    CoverImage cover;

    // The mailbox.
    std::mutex mutex;
    bool changed = false;
    NowPlaying pending;
    std::deque<std::string> notes;

    void run();
    bool connect();
    void watch();
    void addPlayer(const std::string& name);
    void readAll(const std::string& name, PlayerState& p);
    void propertiesChanged(const std::string& sender, GVariant* changed, GVariant* invalidated);
    const std::pair<const std::string, PlayerState>* followed() const;
    void publish();
    void say(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        notes.push_back(line);
    }
    Variant call(const char* destination, const char* path, const char* interface, const char* method,
                 GVariant* args, const char* replyType);
};

Variant MprisWatcher::Impl::call(const char* destination, const char* path, const char* interface,
                                 const char* method, GVariant* args, const char* replyType) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(bus, destination, path, interface, method, args,
                                                  G_VARIANT_TYPE(replyType), G_DBUS_CALL_FLAGS_NO_AUTO_START,
                                                  kCallTimeoutMs, cancellable, &error);
    if (error) g_error_free(error);
    return Variant(reply);
}

bool MprisWatcher::Impl::connect() {
    const std::string address = sessionBusAddress();
    if (address.empty()) {
        say("no session D-Bus (DBUS_SESSION_BUS_ADDRESS is not set): the players' track names are not shown");
        return false;
    }
    GError* error = nullptr;
    bus = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                             G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, cancellable, &error);
    if (!bus) {
        if (!stopping)
            say(std::string("no session D-Bus (") + (error ? error->message : "cannot connect") +
                "): the players' track names are not shown");
        if (error) g_error_free(error);
        return false;
    }
    return true;
}

void MprisWatcher::Impl::readAll(const std::string& name, PlayerState& p) {
    Variant reply = call(name.c_str(), kObjectPath, "org.freedesktop.DBus.Properties", "GetAll",
                         g_variant_new("(s)", kPlayerInterface), "(a{sv})");
    if (!reply) return;
    p.read = true;
    Variant dict(g_variant_get_child_value(reply.get(), 0));
    if (Variant meta{g_variant_lookup_value(dict.get(), "Metadata", G_VARIANT_TYPE_VARDICT)})
        readMetadata(meta.get(), p);
    if (Variant status{g_variant_lookup_value(dict.get(), "PlaybackStatus", G_VARIANT_TYPE_STRING)}) {
        const bool playing = std::string(g_variant_get_string(status.get(), nullptr)) == "Playing";
        if (playing && !p.playing) p.playedAt = ++starts;
        p.playing = playing;
    }
}

void MprisWatcher::Impl::addPlayer(const std::string& name) {
    Variant owner = call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner",
                         g_variant_new("(s)", name.c_str()), "(s)");
    if (!owner) return;   // gone again already
    PlayerState p;
    const gchar* unique = nullptr;
    g_variant_get(owner.get(), "(&s)", &unique);
    p.owner = unique;
    readAll(name, p);
    players[name] = std::move(p);
}

void MprisWatcher::Impl::propertiesChanged(const std::string& sender, GVariant* changed, GVariant* invalidated) {
    gsize n = 0;
    const gchar** gone = g_variant_get_strv(invalidated, &n);
    const bool reread = n > 0;
    g_free(gone);
    for (auto& [name, p] : players) {
        if (p.owner != sender) continue;
        if (Variant meta{g_variant_lookup_value(changed, "Metadata", G_VARIANT_TYPE_VARDICT)})
            readMetadata(meta.get(), p);
        if (Variant status{g_variant_lookup_value(changed, "PlaybackStatus", G_VARIANT_TYPE_STRING)}) {
            const bool playing = std::string(g_variant_get_string(status.get(), nullptr)) == "Playing";
            if (playing && !p.playing) p.playedAt = ++starts;
            p.playing = playing;
        }
        // Properties sent without their values, or never read (a player may
        // take its name before its object answers): asked for again.
        if (reread || !p.read) readAll(name, p);
    }
}

const std::pair<const std::string, PlayerState>* MprisWatcher::Impl::followed() const {
    const std::pair<const std::string, PlayerState>* best = nullptr;
    for (const auto& entry : players) {
        const PlayerState& p = entry.second;
        if (p.title.empty()) continue;   // nothing loaded: nothing to name
        if (!best || (p.playing && !best->second.playing) ||
            (p.playing == best->second.playing && p.playedAt > best->second.playedAt))
            best = &entry;
    }
    return best;
}

void MprisWatcher::Impl::publish() {
    const auto* f = followed();
    const std::string key = f ? f->first + '\n' + f->second.title + '\n' + f->second.trackId : "";
    if (shownOnce && key == shownKey) return;
    shownOnce = true;
    shownKey = key;
    NowPlaying now;
    if (f) {
        const PlayerState& p = f->second;
        now.present = true;
        now.busName = f->first;
        now.trackId = p.trackId;
        now.playing = p.playing;
        now.meta.title = p.title;
        now.meta.artist = p.artist;
        now.meta.album = p.album;
        now.meta.durationMs = p.lengthUs >= 0 ? p.lengthUs / 1000 : -1;
        if (p.artUrl != coverUrl) {
            coverUrl = p.artUrl;
            cover = {};
            // Only local files: a download is left out.
            if (gchar* path = g_str_has_prefix(p.artUrl.c_str(), "file://")
                                  ? g_filename_from_uri(p.artUrl.c_str(), nullptr, nullptr)
                                  : nullptr) {
                cover = readCoverFile(path);
                g_free(path);
            }
        }
        now.meta.cover = cover;
    }
    std::lock_guard<std::mutex> lock(mutex);
    pending = std::move(now);
    changed = true;
}

void MprisWatcher::Impl::watch() {
    auto onOwner = [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GVariant* args,
                      gpointer user) {
        auto* self = static_cast<Impl*>(user);
        const gchar *name = nullptr, *before = nullptr, *after = nullptr;
        g_variant_get(args, "(&s&s&s)", &name, &before, &after);
        if (!g_str_has_prefix(name, kPrefix) || !mprisNameMatches(name, self->filter)) return;
        self->players.erase(name);
        if (*after) self->addPlayer(name);
        self->publish();
    };
    auto onProperties = [](GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar*,
                           GVariant* args, gpointer user) {
        auto* self = static_cast<Impl*>(user);
        if (!g_variant_is_of_type(args, G_VARIANT_TYPE("(sa{sv}as)"))) return;
        Variant changed(g_variant_get_child_value(args, 1)), invalidated(g_variant_get_child_value(args, 2));
        self->propertiesChanged(sender ? sender : "", changed.get(), invalidated.get());
        self->publish();
    };
    const guint ownerWatch = g_dbus_connection_signal_subscribe(
        bus, "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged", "/org/freedesktop/DBus", kPrefix,
        G_DBUS_SIGNAL_FLAGS_MATCH_ARG0_NAMESPACE, onOwner, this, nullptr);
    const guint propertiesWatch = g_dbus_connection_signal_subscribe(
        bus, nullptr, "org.freedesktop.DBus.Properties", "PropertiesChanged", kObjectPath, kPlayerInterface,
        G_DBUS_SIGNAL_FLAGS_NONE, onProperties, this, nullptr);
    // The bus gone (its daemon ended): no player is left to follow.
    auto onClosed = +[](GDBusConnection*, gboolean, GError*, gpointer user) {
        auto* self = static_cast<Impl*>(user);
        self->players.clear();
        self->publish();
    };
    const gulong closedWatch = g_signal_connect(bus, "closed", G_CALLBACK(onClosed), this);
    // Listed after subscribing, so that no change falls between the two.
    if (Variant names = call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ListNames",
                             nullptr, "(as)")) {
        Variant list(g_variant_get_child_value(names.get(), 0));
        gsize n = 0;
        const gchar** all = g_variant_get_strv(list.get(), &n);
        for (gsize i = 0; i < n; ++i)
            if (g_str_has_prefix(all[i], kPrefix) && std::string(all[i]) != kPrefix &&
                mprisNameMatches(all[i], filter))
                addPlayer(all[i]);
        g_free(all);
    }
    publish();
    if (players.empty())
        say(filter.empty() ? "no music player on the session D-Bus says what it plays (MPRIS) yet: the capture "
                             "source is shown until one does"
                           : "no player " + filter + " on the session D-Bus yet: the capture source is shown "
                                                     "until it plays");
    while (!stopping) g_main_context_iteration(context, TRUE);
    g_dbus_connection_signal_unsubscribe(bus, ownerWatch);
    g_dbus_connection_signal_unsubscribe(bus, propertiesWatch);
    g_signal_handler_disconnect(bus, closedWatch);
}

void MprisWatcher::Impl::run() {
    g_main_context_push_thread_default(context);
    if (connect()) {
        watch();
        g_dbus_connection_close_sync(bus, nullptr, nullptr);
        g_object_unref(bus);
        bus = nullptr;
    } else {
        publish();
    }
    // Callbacks still queued for this context hold nothing of ours: the
    // subscriptions are gone. Dispatched here so that the context ends empty.
    while (g_main_context_iteration(context, FALSE)) {
    }
    g_main_context_pop_thread_default(context);
}

MprisWatcher::MprisWatcher() : mImpl(std::make_unique<Impl>()) {}
MprisWatcher::~MprisWatcher() { stop(); }

void MprisWatcher::start(const std::string& player) {
    stop();
    Impl& d = *mImpl;
    d.filter = player;
    d.stopping = false;
    d.context = g_main_context_new();
    d.cancellable = g_cancellable_new();
    d.thread = std::thread([&d] { d.run(); });
}

void MprisWatcher::stop() {
    Impl& d = *mImpl;
    if (!d.thread.joinable()) return;
    d.stopping = true;
    g_cancellable_cancel(d.cancellable);
    g_main_context_wakeup(d.context);
    d.thread.join();
    g_object_unref(d.cancellable);
    g_main_context_unref(d.context);
    d.cancellable = nullptr;
    d.context = nullptr;
    d.players.clear();
    d.shownOnce = false;
    d.coverUrl.clear();
    d.cover = {};
}

bool MprisWatcher::take(NowPlaying& out) {
    std::lock_guard<std::mutex> lock(mImpl->mutex);
    if (!mImpl->changed) return false;
    mImpl->changed = false;
    out = std::move(mImpl->pending);
    return true;
}

bool MprisWatcher::note(std::string& out) {
    std::lock_guard<std::mutex> lock(mImpl->mutex);
    if (mImpl->notes.empty()) return false;
    out = std::move(mImpl->notes.front());
    mImpl->notes.pop_front();
    return true;
}

}  // namespace lv
