// Events: the manager's broadcast channel. An event is named by a source (a plug-in) and a name; firing
// calls every subscriber in subscription order, in the firing thread, with no registry lock held.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "item_registry.h"
#include "tvk_mgr.h"

class PluginInfo;
class PluginMgr;

// The events that the manager registers for its two pseudo plug-ins, in registration order (ids 1..14).
enum class BuiltinEvent {
    Exit,
    Start,
    FrameCreated,
    FrameDelete,
    FrameDataChanged,
    FrameAttrChanged,
    AcqStarted,
    AcqCompleted,
    InfoMsg,
    DacsSet,
    ExtDacSet,
    PixCfg,
    TvkDevNew,
    TvkDevChanged,
    Count
};

class EventInfo : public BaseInfo {
public:
    EventInfo(const std::shared_ptr<PluginInfo>& owner, const std::string& ownerName, std::string name,
              std::string description)
        : BaseInfo(std::move(name), std::move(description)), owner_(owner), ownerName_(ownerName),
          key_(ownerName + ":" + this->name())
    {}

    // Key: owner's name, ":", event name.
    const std::string& getName() const override { return key_; }
    std::shared_ptr<PluginInfo> owner() const { return owner_.lock(); }
    const std::string& ownerName() const { return ownerName_; }

    void subscribe(EventCallback callback);
    // Removes every entry of callback; a firing under way no longer calls it.
    void unsubscribe(EventCallback callback);
    // Drops every subscriber (the event is being removed).
    void dropSubscribers();
    std::vector<EventCallback> subscribers() const;

    struct Subscriber {
        explicit Subscriber(EventCallback cb) : callback(cb) {}
        const EventCallback callback;
        std::atomic<bool> active{true}; // false once unsubscribed
    };
    using SubscriberList = std::vector<std::shared_ptr<Subscriber>>;
    // The list as it is now; later changes do not touch it.
    std::shared_ptr<const SubscriberList> snapshot() const;

private:
    std::weak_ptr<PluginInfo> owner_;
    const std::string ownerName_;
    const std::string key_;
    // Guards subscribers_ (replaced whole, so a firing walks its own copy); nothing is called while held.
    mutable std::mutex m_;
    std::shared_ptr<const SubscriberList> subscribers_ = std::make_shared<const SubscriberList>();
};

class EventMgr : public ItemMgr<EventInfo> {
public:
    explicit EventMgr(PluginMgr& plugins) : plugins_(plugins) {}

    // 0 and *outId; -2 a null record or outId; -300 owner not registered; -305 already registered.
    int addEvent(const _EventDesc* desc, int* outId);
    // 0; -306 not registered; -300 owner no longer registered.
    int removeEvent(const char* plugin, const char* eventName);
    // 0; -2 null callback; -306 not registered (logged).
    int subscribe(const char* plugin, const char* eventName, EventCallback callback);
    int unsubscribe(const char* plugin, const char* eventName, EventCallback callback);
    // Calls each subscriber with arg in the calling thread: 0, or -3 for an id that names no event.
    int fire(uint32_t eventId, intptr_t arg);
    int fire(BuiltinEvent event, intptr_t arg) { return fire(builtinId(event), arg); }
    // Calls with argument 1 only the subscribers whose code lies in the module modulePath (compared
    // ignoring case): 0, or -3.
    int fireToModule(uint32_t eventId, const std::string& modulePath);
    // Walk in ascending id: 0 found, 1 none / end.
    int getFirstEvent(uint32_t* id, _EventDesc* out) const;
    int getNextEvent(uint32_t* id, _EventDesc* out) const;

    std::shared_ptr<EventInfo> findEvent(std::string_view plugin, std::string_view eventName) const;
    uint32_t builtinId(BuiltinEvent event) const { return builtinIds_[static_cast<int>(event)]; }

private:
    void registerBuiltins();
    int fireWhere(uint32_t eventId, intptr_t arg, const std::function<bool(const EventInfo::Subscriber&)>& selected);
    friend class PluginMgr;

    PluginMgr& plugins_;
    uint32_t builtinIds_[static_cast<int>(BuiltinEvent::Count)] = {}; // set once, before any plug-in
};
