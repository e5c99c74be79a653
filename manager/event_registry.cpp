#include "event_registry.h"

#include <iterator>
#include <strings.h>

#include "platform/module.h"
#include "plugin_call.h"
#include "plugin_mgr.h"

namespace {

struct BuiltinEventDesc {
    const char* source;
    const char* name;
    const char* description;
};

// In registration order; the index is the BuiltinEvent value and the id is index + 1.
constexpr BuiltinEventDesc kBuiltinEvents[] = {
    {"tvkmgr", "Exit", "Application is shutting down"},
    {"tvkmgr", "Start", "Application was started"},
    {"tvkmgr", "FrameCreated", "New frame was created"},
    {"tvkmgr", "FrameDelete", "Frame will be deleted"},
    {"tvkmgr", "FrameDataChanged", "Frame data were changed"},
    {"tvkmgr", "FrameAttrChanged", "Frame attributes were changed"},
    {"tvkctrl", "AcqStarted", "Acquistion was started"},
    {"tvkctrl", "AcqCompleted", "Acquistion was completed"},
    {"tvkctrl", "InfoMsg", "Info and error messages"},
    {"tvkctrl", "DACs set", "Tarvik DACs were set"},
    {"tvkctrl", "ExtDACSet", "Tarvik Ext DAC was set"},
    {"tvkctrl", "PixCfg", "Tarvik pixel configs were changed"},
    {"tvkctrl", "TvkDevNew", "New tarvik device connected"},
    {"tvkctrl", "TvkDevChanged", "Tarvik device reconnected/changed"},
};
static_assert(std::size(kBuiltinEvents) == static_cast<size_t>(BuiltinEvent::Count));

std::string eventKey(std::string_view plugin, std::string_view eventName)
{
    return toLowerAscii(plugin) + ":" + std::string(eventName);
}

void fill(const EventInfo& event, _EventDesc* out)
{
    if (!out)
        return;
    copyText(out->plugin, event.ownerName());
    copyText(out->name, event.name());
    copyText(out->description, event.description());
}

} // namespace

// ---- EventInfo ----

void EventInfo::subscribe(EventCallback callback)
{
    std::lock_guard lock(m_);
    auto list = std::make_shared<SubscriberList>(*subscribers_);
    list->push_back(std::make_shared<Subscriber>(callback));
    subscribers_ = std::move(list);
}

void EventInfo::unsubscribe(EventCallback callback)
{
    std::lock_guard lock(m_);
    auto list = std::make_shared<SubscriberList>();
    list->reserve(subscribers_->size());
    for (const auto& subscriber : *subscribers_) {
        if (subscriber->callback == callback)
            subscriber->active.store(false);
        else
            list->push_back(subscriber);
    }
    subscribers_ = std::move(list);
}

void EventInfo::dropSubscribers()
{
    std::lock_guard lock(m_);
    for (const auto& subscriber : *subscribers_)
        subscriber->active.store(false);
    subscribers_ = std::make_shared<const SubscriberList>();
}

std::shared_ptr<const EventInfo::SubscriberList> EventInfo::snapshot() const
{
    std::lock_guard lock(m_);
    return subscribers_;
}

std::vector<EventCallback> EventInfo::subscribers() const
{
    const auto list = snapshot();
    std::vector<EventCallback> callbacks;
    callbacks.reserve(list->size());
    for (const auto& subscriber : *list)
        callbacks.push_back(subscriber->callback);
    return callbacks;
}

// ---- EventMgr ----

void EventMgr::registerBuiltins()
{
    for (size_t i = 0; i < std::size(kBuiltinEvents); ++i) {
        const BuiltinEventDesc& builtin = kBuiltinEvents[i];
        if (!plugins_.findPlugin(builtin.source))
            plugins_.registerPlugin(builtin.source, nullptr);
        _EventDesc desc{};
        copyText(desc.plugin, builtin.source);
        copyText(desc.name, builtin.name);
        copyText(desc.description, builtin.description);
        int id = 0;
        addEvent(&desc, &id);
        builtinIds_[i] = static_cast<uint32_t>(id);
    }
}

int EventMgr::addEvent(const _EventDesc* desc, int* outId)
{
    if (!desc || !outId)
        return TVK_ERR_PARAM;
    const std::string pluginText = fieldText(desc->plugin);
    std::lock_guard pluginsLock(plugins_.mutex());
    const std::shared_ptr<PluginInfo> owner = plugins_.ownerOrLog(pluginText);
    if (!owner)
        return MGR_ERR_NO_PLUGIN;
    std::lock_guard ownerLock(owner->m_);
    auto event = std::make_shared<EventInfo>(owner, owner->name(), fieldText(desc->name), fieldText(desc->description));
    const int added = add(event);
    if (added == REG_ERR_DUPLICATE) {
        plugins_.log().logMsg("tvkmgr", "Event %s is already registered by plugin %s.", 0, event->name().c_str(),
                              pluginText.c_str());
        return MGR_ERR_EVENT_EXISTS;
    }
    if (added != 0)
        return added;
    *outId = static_cast<int>(event->id());
    owner->events_.push_back(std::move(event));
    return 0;
}

int EventMgr::removeEvent(const char* plugin, const char* eventName)
{
    const std::string pluginText = plugin ? plugin : "";
    const std::string name = eventName ? eventName : "";
    const std::shared_ptr<EventInfo> event = removeByName(eventKey(pluginText, name));
    if (!event) {
        plugins_.log().logMsg("tvkmgr", "Event %s is is not registered by plugin %s.", 0, name.c_str(),
                              pluginText.c_str());
        return MGR_ERR_NO_EVENT;
    }
    event->dropSubscribers();
    return plugins_.detachFromOwner(event, &PluginInfo::events_);
}

std::shared_ptr<EventInfo> EventMgr::findEvent(std::string_view plugin, std::string_view eventName) const
{
    return find(eventKey(plugin, eventName));
}

int EventMgr::subscribe(const char* plugin, const char* eventName, EventCallback callback)
{
    if (!callback)
        return TVK_ERR_PARAM;
    const auto event = findEvent(plugin ? plugin : "", eventName ? eventName : "");
    if (!event) {
        plugins_.log().logMsg("tvkmgr", "Event %s is is not registered by plugin %s.", 0, eventName ? eventName : "",
                              plugin ? plugin : "");
        return MGR_ERR_NO_EVENT;
    }
    event->subscribe(callback);
    return 0;
}

int EventMgr::unsubscribe(const char* plugin, const char* eventName, EventCallback callback)
{
    const auto event = findEvent(plugin ? plugin : "", eventName ? eventName : "");
    if (!event) {
        plugins_.log().logMsg("tvkmgr", "Event %s is is not registered by plugin %s.", 0, eventName ? eventName : "",
                              plugin ? plugin : "");
        return MGR_ERR_NO_EVENT;
    }
    event->unsubscribe(callback);
    return 0;
}

int EventMgr::fire(uint32_t eventId, intptr_t arg)
{
    return fireWhere(eventId, arg, [](const EventInfo::Subscriber&) { return true; });
}

int EventMgr::fireToModule(uint32_t eventId, const std::string& modulePath)
{
    return fireWhere(eventId, 1, [&](const EventInfo::Subscriber& subscriber) {
        const std::string module = plat::modulePathOf(reinterpret_cast<const void*>(subscriber.callback));
        return !module.empty() && strcasecmp(module.c_str(), modulePath.c_str()) == 0;
    });
}

// The walk holds its own copy of the list and no lock: a subscriber may subscribe, unsubscribe (itself or
// others) or remove the event; whoever is unsubscribed meanwhile is not called any more.
int EventMgr::fireWhere(uint32_t eventId, intptr_t arg, const std::function<bool(const EventInfo::Subscriber&)>& selected)
{
    const auto event = findById(eventId);
    if (!event)
        return REG_ERR_NOT_FOUND;
    const auto subscribers = event->snapshot();
    for (const auto& subscriber : *subscribers) {
        if (!subscriber->active.load() || !selected(*subscriber))
            continue;
        guardedPluginCall(plugins_.log(), event->getName().c_str(), 0, [&] { subscriber->callback(arg); });
    }
    return 0;
}

int EventMgr::getFirstEvent(uint32_t* id, _EventDesc* out) const
{
    const auto event = first();
    if (!event)
        return 1;
    if (id)
        *id = event->id();
    fill(*event, out);
    return 0;
}

int EventMgr::getNextEvent(uint32_t* id, _EventDesc* out) const
{
    if (!id)
        return 1;
    const auto event = next(*id);
    if (!event)
        return 1;
    *id = event->id();
    fill(*event, out);
    return 0;
}
