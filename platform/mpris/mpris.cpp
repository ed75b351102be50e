// MPRIS over GDBus on a thread of its own. Everything D-Bus happens on that
// thread, inside its GMainContext: the calls' replies and the signals it
// subscribes to, which GDBus dispatches to the context that was the thread's
// default when they were made. The calls are asynchronous, at most one in
// flight per player: a player that never answers holds back no other, and
// one that signals while unanswered only asks for one more read once its
// call is over. The frame thread sees only the mailbox.
#include "lv/mpris.h"

#include <gio/gio.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "lv/utf.h"

namespace lv {

namespace {

constexpr const char* kPrefix = "org.mpris.MediaPlayer2";
constexpr const char* kPlayerInterface = "org.mpris.MediaPlayer2.Player";
constexpr const char* kObjectPath = "/org/mpris/MediaPlayer2";
// A call that is not answered within this is given up; nothing waits on it.
constexpr int kCallTimeoutMs = 2000;

struct PlayerState {
    unsigned long long serial = 0;   // which coming of the name a reply belongs to
    std::string owner;   // the unique name that sends its signals
    std::string title, artist, album, artUrl, trackId;
    long long lengthUs = -1;
    bool playing = false;
    unsigned long long playedAt = 0;   // when it last started playing, in the watcher's count; 0 never
    bool read = false;                 // its properties answered at least once
    bool reading = false;              // a GetAll in flight
    bool readAgain = false;            // asked for once the one in flight is over
    bool startup = false;              // there at start, not yet answered
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
    p.title = boundTag(stringOf(field("xesam:title").get()));
    p.artist = boundTag(stringOf(field("xesam:artist").get()));
    p.album = boundTag(stringOf(field("xesam:album").get()));
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

// The local file an art URL names: file: in any letter case, with no host or
// localhost (file://otherhost/... is another machine's file).
bool localFileOf(const std::string& url, std::string& path) {
    gchar* host = nullptr;
    gchar* file = g_filename_from_uri(url.c_str(), &host, nullptr);
    const bool local = file && (!host || g_ascii_strcasecmp(host, "localhost") == 0);
    if (local) path = file;
    g_free(file);
    g_free(host);
    return local;
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
    unsigned long long starts = 0, serials = 0;
    int calls = 0;            // in flight: each ends on this context, answered, failed or cancelled
    bool listed = false;      // the names on the bus at start are known
    int startupReads = 0;     // of those, not yet answered: "no player" waits for them
    bool saidNoPlayer = false;
    std::string shownKey;     // what was handed on last
    bool shownOnce = false;
    std::string coverUrl, coverStamp, coverFailedUrl;   // the art URL read last, its file's stamp
    CoverImage cover;                                   // and what it gave, ready for the overlay
    OverlayCovers overlayCovers;

    // The mailbox.
    std::mutex mutex;
    bool changed = false;
    NowPlaying pending;
    std::deque<std::string> notes;

    using OnReply = void (Impl::*)(const std::string& name, unsigned long long serial, GVariant* reply);
    struct Call {
        Impl* self;
        OnReply onReply;
        std::string name;
        unsigned long long serial;
    };

    void run();
    bool connect();
    void watch();
    void call(const std::string& destination, const char* path, const char* interface, const char* method,
              GVariant* args, const char* replyType, OnReply onReply, const std::string& name,
              unsigned long long serial);
    static void callDone(GObject* source, GAsyncResult* result, gpointer user);
    void namesListed(const std::string&, unsigned long long, GVariant* reply);
    void ownerFound(const std::string& name, unsigned long long, GVariant* reply);
    void propertiesRead(const std::string& name, unsigned long long serial, GVariant* reply);
    void addPlayer(const std::string& name, const std::string& owner, bool startup);
    void erasePlayer(std::map<std::string, PlayerState>::iterator it);
    void readAll(const std::string& name);
    void readProperties(GVariant* dict, PlayerState& p);
    void propertiesChanged(const std::string& sender, GVariant* changed, GVariant* invalidated);
    const std::pair<const std::string, PlayerState>* followed() const;
    const CoverImage& coverOf(const std::string& artUrl);
    void publish();
    void sayWhenNoPlayer();
    void say(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        notes.push_back(line);
    }
};

void MprisWatcher::Impl::call(const std::string& destination, const char* path, const char* interface,
                              const char* method, GVariant* args, const char* replyType, OnReply onReply,
                              const std::string& name, unsigned long long serial) {
    ++calls;
    g_dbus_connection_call(bus, destination.c_str(), path, interface, method, args, G_VARIANT_TYPE(replyType),
                           G_DBUS_CALL_FLAGS_NO_AUTO_START, kCallTimeoutMs, cancellable, callDone,
                           new Call{this, onReply, name, serial});
}

// On the watcher's context, as every reply is: a failed call (no answer in
// time, the player gone, the watcher stopping) hands on no reply.
void MprisWatcher::Impl::callDone(GObject* source, GAsyncResult* result, gpointer user) {
    std::unique_ptr<Call> c(static_cast<Call*>(user));
    GError* error = nullptr;
    Variant reply(g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error));
    if (error) g_error_free(error);
    Impl& self = *c->self;
    --self.calls;
    if (!self.stopping) (self.*(c->onReply))(c->name, c->serial, reply.get());
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

void MprisWatcher::Impl::namesListed(const std::string&, unsigned long long, GVariant* reply) {
    listed = true;
    if (reply) {
        Variant list(g_variant_get_child_value(reply, 0));
        gsize n = 0;
        const gchar** all = g_variant_get_strv(list.get(), &n);
        for (gsize i = 0; i < n; ++i)
            if (g_str_has_prefix(all[i], kPrefix) && std::string(all[i]) != kPrefix &&
                mprisNameMatches(all[i], filter) && !players.count(all[i])) {
                ++startupReads;
                call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "GetNameOwner",
                     g_variant_new("(s)", all[i]), "(s)", &Impl::ownerFound, all[i], 0);
            }
        g_free(all);
    }
    publish();
    sayWhenNoPlayer();
}

void MprisWatcher::Impl::ownerFound(const std::string& name, unsigned long long, GVariant* reply) {
    --startupReads;
    // Gone again already, or announced by the bus meanwhile.
    if (reply && !players.count(name)) {
        const gchar* unique = nullptr;
        g_variant_get(reply, "(&s)", &unique);
        addPlayer(name, unique, true);
    }
    publish();
    sayWhenNoPlayer();
}

void MprisWatcher::Impl::sayWhenNoPlayer() {
    if (!listed || startupReads > 0 || !players.empty() || saidNoPlayer) return;
    saidNoPlayer = true;
    say(filter.empty() ? "no music player on the session D-Bus says what it plays (MPRIS) yet: the capture "
                         "source is shown until one does"
                       : "no player " + filter + " on the session D-Bus yet: the capture source is shown "
                                                 "until it plays");
}

void MprisWatcher::Impl::addPlayer(const std::string& name, const std::string& owner, bool startup) {
    PlayerState p;
    p.serial = ++serials;
    p.owner = owner;
    if (startup) ++startupReads;
    p.startup = startup;
    players[name] = std::move(p);
    readAll(name);
}

void MprisWatcher::Impl::erasePlayer(std::map<std::string, PlayerState>::iterator it) {
    if (it->second.startup) --startupReads;
    players.erase(it);
}

void MprisWatcher::Impl::readAll(const std::string& name) {
    PlayerState& p = players[name];
    if (p.reading) {
        p.readAgain = true;
        return;
    }
    p.reading = true;
    p.readAgain = false;
    call(name, kObjectPath, "org.freedesktop.DBus.Properties", "GetAll", g_variant_new("(s)", kPlayerInterface),
         "(a{sv})", &Impl::propertiesRead, name, p.serial);
}

void MprisWatcher::Impl::propertiesRead(const std::string& name, unsigned long long serial, GVariant* reply) {
    auto it = players.find(name);
    if (it == players.end() || it->second.serial != serial) return;   // a reply to a player gone since
    PlayerState& p = it->second;
    p.reading = false;
    if (p.startup) {
        p.startup = false;
        --startupReads;
    }
    if (reply) {
        p.read = true;
        Variant dict(g_variant_get_child_value(reply, 0));
        readProperties(dict.get(), p);
    }
    if (p.readAgain) readAll(name);
    publish();
    sayWhenNoPlayer();
}

// The properties a dictionary holds (GetAll's answer, or a change).
void MprisWatcher::Impl::readProperties(GVariant* dict, PlayerState& p) {
    if (Variant meta{g_variant_lookup_value(dict, "Metadata", G_VARIANT_TYPE_VARDICT)}) readMetadata(meta.get(), p);
    if (Variant status{g_variant_lookup_value(dict, "PlaybackStatus", G_VARIANT_TYPE_STRING)}) {
        const bool playing = std::string(g_variant_get_string(status.get(), nullptr)) == "Playing";
        if (playing && !p.playing) p.playedAt = ++starts;
        p.playing = playing;
    }
}

void MprisWatcher::Impl::propertiesChanged(const std::string& sender, GVariant* changed, GVariant* invalidated) {
    gsize n = 0;
    const gchar** gone = g_variant_get_strv(invalidated, &n);
    const bool reread = n > 0;
    g_free(gone);
    for (auto& [name, p] : players) {
        if (p.owner != sender) continue;
        readProperties(changed, p);
        // Properties sent without their values, or never read (a player may
        // take its name before its object answers): asked for again, once
        // the call in flight is over.
        if (reread || !p.read) readAll(name);
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

// Only local files: a download is left out. The file is read and its
// picture made small again only when the URL or the file changed.
const CoverImage& MprisWatcher::Impl::coverOf(const std::string& artUrl) {
    std::string path;
    if (!localFileOf(artUrl, path)) {
        coverUrl = artUrl;
        coverStamp.clear();
        cover = {};
        return cover;
    }
    struct stat st {};
    const std::string stamp =
        ::stat(path.c_str(), &st) != 0
            ? ""
            : std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
                  std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
    if (artUrl == coverUrl && stamp == coverStamp && !stamp.empty()) return cover;
    coverUrl = artUrl;
    coverStamp = stamp;
    std::string error;
    const CoverImage read = readCoverFile(path, error);
    if (read.empty() && coverFailedUrl != artUrl) {
        coverFailedUrl = artUrl;   // said once, however often the player names it
        say("no cover: cannot read " + path + " (" + error + ")");
    }
    cover = overlayCovers.prepare(read);
    return cover;
}

void MprisWatcher::Impl::publish() {
    const auto* f = followed();
    // "No player" waits until the players there at start have answered (or
    // failed to): one of them may be playing.
    if (!f && (!listed || startupReads > 0)) return;
    const PlayerState* p = f ? &f->second : nullptr;
    // Everything shown: a player that sends its cover or artist a moment
    // after the title is heard.
    const std::string key = p ? f->first + '\n' + p->title + '\n' + p->artist + '\n' + p->album + '\n' + p->artUrl +
                                    '\n' + p->trackId
                              : "";
    NowPlaying now;
    if (p) {
        now.present = true;
        now.busName = f->first;
        now.trackId = p->trackId;
        now.playing = p->playing;
        now.meta.title = p->title;
        now.meta.artist = p->artist;
        now.meta.album = p->album;
        now.meta.durationMs = p->lengthUs >= 0 ? p->lengthUs / 1000 : -1;
        now.meta.cover = coverOf(p->artUrl);
    }
    const std::string shown = key + '\n' + coverStamp;
    if (shownOnce && shown == shownKey) return;
    shownOnce = true;
    shownKey = shown;
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
        if (auto it = self->players.find(name); it != self->players.end()) self->erasePlayer(it);
        if (*after) self->addPlayer(name, after, false);
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
        while (!self->players.empty()) self->erasePlayer(self->players.begin());
        self->publish();
    };
    const gulong closedWatch = g_signal_connect(bus, "closed", G_CALLBACK(onClosed), this);
    // Listed after subscribing, so that no change falls between the two.
    call("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "ListNames", nullptr, "(as)",
         &Impl::namesListed, "", 0);
    while (!stopping) g_main_context_iteration(context, TRUE);
    // Cancelled by stop(): each call still in flight ends here, without a reply.
    while (calls > 0) g_main_context_iteration(context, TRUE);
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
        listed = true;   // no bus, no player: said at once
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
    d.calls = 0;
    d.listed = false;
    d.startupReads = 0;
    d.saidNoPlayer = false;
    d.shownOnce = false;
    d.shownKey.clear();
    d.coverUrl.clear();
    d.coverStamp.clear();
    d.coverFailedUrl.clear();
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
