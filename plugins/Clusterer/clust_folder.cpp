#include "clust_folder.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "clust_anal_data.h"

namespace fs = std::filesystem;

std::vector<std::string> frameFilesOf(const std::string& folder, std::error_code* error)
{
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError))
            continue;
        std::string ext = it->path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
        if (ext == ".dsc")
            continue;
        files.push_back(it->path().filename().string());
    }
    std::sort(files.begin(), files.end());
    if (error)
        *error = ec;
    return files;
}

ClustFolderJob::ClustFolderJob(ClustAnalData& data, std::string folder, Progress progress)
    : data_(data), folder_(std::move(folder)), progress_(std::move(progress))
{
}

ClustFolderJob::~ClustFolderJob()
{
    requestAbort();
    thread().waitFor(std::chrono::hours(24));
}

int ClustFolderJob::processAll()
{
    std::error_code ec;
    const fs::file_type type = fs::status(folder_, ec).type();
    if (!ec && type == fs::file_type::not_found)
        ec = std::make_error_code(std::errc::no_such_file_or_directory);
    else if (!ec && type != fs::file_type::directory)
        ec = std::make_error_code(std::errc::not_a_directory);
    std::vector<std::string> files;
    if (!ec)
        files = frameFilesOf(folder_, &ec); // a folder listed only in part is not taken for a whole one
    if (ec) {
        data_.logText("The folder \"" + folder_ + "\" cannot be read: " + ec.message() + ".");
        // The closing report all the same: the window waits for it to show the outcome.
        if (progress_)
            progress_(0, 0);
        return -1;
    }
    total_ = static_cast<int>(files.size());
    const _MgrFuncTable* mgr = data_.table();
    int analysed = 0;
    for (const std::string& name : files) {
        if (abortRequested())
            break;
        const std::string path = (fs::path(folder_) / name).string();
        uint32_t id = 0;
        const int rc = mgr->mgrLoadFrame(&id, path.c_str());
        if (rc != 0) {
            ++failed_;
            data_.logText("Frame file \"" + path + "\" could not be loaded (code " + std::to_string(rc) +
                          "); it is skipped.");
            if (id)
                mgr->mgrCloseFrame(id, nullptr);
        } else {
            if (data_.processFrame(id, fs::path(name).stem().string()) == 0) {
                ++analysed;
            } else {
                ++failed_;
                data_.logText("Frame file \"" + path + "\" could not be analysed; it is skipped.");
            }
            mgr->mgrCloseFrame(id, nullptr);
        }
        ++done_;
        if (progress_)
            progress_(done_, total_);
    }
    if (progress_)
        progress_(total_, total_);
    return analysed;
}
