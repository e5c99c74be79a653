#include "frame_attrib_registry.h"

#include "plugin_call.h"
#include "plugin_mgr.h"

int FrameAttribInfo::value(Log& log, void* buffer, uint32_t* size) const
{
    return guardedPluginCall(log, "a frame attribute template", TVK_ERR_GENERIC,
                             [&] { return callback_(hint_, buffer, size); });
}

int FrameAttribMgr::addTemplate(const _FrameAttribTempl* templ)
{
    if (!templ)
        return TVK_ERR_PARAM;
    Log& log = plugins_.log();
    const std::string pluginText = fieldText(templ->plugin);
    const std::string name = fieldText(templ->name);
    // The type sizes the attribute's elements; a callback is needed for every frame.
    if (!templ->callback || templ->type > TYPE_STRING) {
        log.logMsg("tvkmgr", "Frame attrib. template %s of plugin %s is refused: %s.", 0, name.c_str(),
                   pluginText.c_str(), templ->callback ? "invalid type" : "no callback");
        return TVK_ERR_PARAM;
    }
    std::lock_guard pluginsLock(plugins_.mutex());
    const std::shared_ptr<PluginInfo> owner = plugins_.ownerOrLog(pluginText);
    if (!owner)
        return MGR_ERR_NO_PLUGIN;
    std::lock_guard ownerLock(owner->m_);
    auto item = std::make_shared<FrameAttribInfo>(owner, owner->name(), name, fieldText(templ->description),
                                                  templ->type, templ->hint, templ->callback);
    const int added = add(item);
    if (added == REG_ERR_DUPLICATE) {
        log.logMsg("tvkmgr", "Frame attrib. template %s cannot be registered by plugin %s, it is already registered.",
                   0, name.c_str(), pluginText.c_str());
        return MGR_ERR_TEMPL_EXISTS;
    }
    if (added != 0)
        return added;
    owner->frameAttribs_.push_back(std::move(item));
    return 0;
}

int FrameAttribMgr::removeTemplate(const char* attribName)
{
    const std::string name = attribName ? attribName : "";
    const std::shared_ptr<FrameAttribInfo> item = removeByName(name);
    if (!item) {
        plugins_.log().logMsg("tvkmgr", "Frame attrib. template %s is not registered.", 0, name.c_str());
        return MGR_ERR_NO_TEMPL;
    }
    return plugins_.detachFromOwner(item, &PluginInfo::frameAttribs_);
}
