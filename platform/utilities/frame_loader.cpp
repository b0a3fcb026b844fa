#include "utilities/frame_loader.h"

#include <algorithm>
#include <filesystem>
#include <limits>
#include <string_view>
#include <system_error>

#include "base/byte_swap.h"
#include "base/file_names.h"
#include "datamodel/symmetry/system.h"
#include "host/documents.h"
#include "utilities/trajectory.h"

namespace {

constexpr auto kMaxBytes = static_cast<std::size_t>(std::numeric_limits<std::streamsize>::max());
constexpr std::size_t kTextChunk = 64 * 1024;
}  // namespace

xxFrameLoader::xxFrameLoader(int frameLoaderType) : type_(frameLoaderType) {
    if (type_ != kTextFile && type_ != kBinaryFile)
        throw Cfx::CfxResult(E_INVALIDARG,
                             Cfx::CfxFormat("Unknown frame loader type %1", {std::to_string(frameLoaderType)}));
}

xxFrameLoader::xxFrameLoader(const xxFrameLoader& other)
    : xxFrameProvider(other),
      xxLoad(other),
      xxEventSink(other),
      fileName_(other.fileName_),
      swapBytes_(other.swapBytes_),
      modelObject_(other.modelObject_),
      targetObject_(other.targetObject_),
      symmetrySystem_(other.symmetrySystem_),
      treeRoot_(other.treeRoot_),
      trajectory_(other.trajectory_),
      classTypes_(other.classTypes_),
      type_(other.type_),
      trajectoryType_(other.trajectoryType_),
      fileListing_(other.fileListing_) {}

xxFrameLoader::~xxFrameLoader() = default;

bool xxFrameLoader::Init(const xxTrajectory* trajectory, const std::vector<unsigned>& classTypes) {
    SetErrorMessage({});
    if (!trajectory) {
        SetErrorMessage("There is no trajectory to play.");
        return false;
    }
    xxTreeRoot* tree = trajectory->GetParent() ? trajectory->GetParent()->GetTreeRoot() : nullptr;
    if (!tree) {
        SetErrorMessage("The trajectory is not part of a model.");
        return false;
    }
    const std::string document = host::DocumentFilePath(*tree);
    if (document.empty()) {
        SetErrorMessage("The trajectory's document has no file.");
        return false;
    }
    // "<stem>." whatever the document's extension; a "." in a directory name is no extension.
    fileName_ = std::filesystem::path(document).replace_extension().string() + ".";
    modelObject_ = tree;
    targetObject_ = tree;
    symmetrySystem_ = xxMatterSymmetrySystem::FirstOf(*tree);
    treeRoot_ = tree;
    trajectory_ = trajectory;
    classTypes_ = classTypes;
    return true;
}

void xxFrameLoader::OnNewFrame(long frame) { currentFrame_ = frame; }

// No trigger is set up yet (SetupAnimateTrigger), so there is nothing to react to.
void xxFrameLoader::OnProcessEvent(const xxEvent&) {}
void xxFrameLoader::OnTriggerDeletion(xxTrigger*) {}

bool xxFrameLoader::OpenFile() {
    if (openDepth_ > 0) {
        ++openDepth_;
        return true;
    }
    const auto mode = type_ == kBinaryFile ? std::ios::in | std::ios::binary : std::ios::in;
    stream_.clear();
    stream_.open(fileName_, mode);
    if (!stream_.is_open()) {
        std::optional<std::string> other = cartovane::FindFileIgnoringCase(fileName_);
        if (!other || *other == fileName_) return false;
        stream_.clear();
        stream_.open(*other, mode);
        if (!stream_.is_open()) return false;
        fileName_ = std::move(*other);
    }
    openDepth_ = 1;
    return true;
}

void xxFrameLoader::CloseFile() {
    if (openDepth_ == 0) return;
    if (--openDepth_ == 0) stream_.close();
}

bool xxFrameLoader::Skip(std::size_t bytes) {
    if (bytes > kMaxBytes) throw Cfx::CfxResult(E_INVALIDARG, "Read beyond any file size");
    const auto wanted = static_cast<std::streamsize>(bytes);
    stream_.ignore(wanted);
    // ignore() stops quietly at the end; a real read of the same bytes would have failed.
    if (stream_.gcount() < wanted) stream_.setstate(std::ios::failbit);
    return !stream_.fail();
}

template <class T>
bool xxFrameLoader::ReadElements(T* destination, std::size_t width, std::size_t count, bool skip) {
    if (width != sizeof(T))
        throw Cfx::CfxResult(E_INVALIDARG, Cfx::CfxFormat("Elements of %1 bytes cannot be read into %2-byte values",
                                                          {std::to_string(width), std::to_string(sizeof(T))}));
    if (count > kMaxBytes / width) throw Cfx::CfxResult(E_INVALIDARG, "Read beyond any file size");
    const std::size_t bytes = width * count;
    if (skip) return Skip(bytes);
    if (bytes == 0) return !stream_.fail();
    if (!destination) throw Cfx::CfxResult(E_POINTER, "No buffer for the values read");
    auto* raw = reinterpret_cast<char*>(destination);
    stream_.read(raw, static_cast<std::streamsize>(bytes));
    if (swapBytes_) cartovane::ByteSwapEach(raw, width, static_cast<std::size_t>(stream_.gcount()) / width);
    return !stream_.fail();
}

bool xxFrameLoader::ReadTranslate(int* destination, std::size_t width, std::size_t count, bool skip) {
    return ReadElements(destination, width, count, skip);
}
bool xxFrameLoader::ReadTranslate(float* destination, std::size_t width, std::size_t count, bool skip) {
    return ReadElements(destination, width, count, skip);
}
bool xxFrameLoader::ReadTranslate(double* destination, std::size_t width, std::size_t count, bool skip) {
    return ReadElements(destination, width, count, skip);
}

bool xxFrameLoader::Read(std::string& text, std::size_t length, bool skip) {
    if (skip) return Skip(length);
    if (length > kMaxBytes) throw Cfx::CfxResult(E_INVALIDARG, "Read beyond any file size");
    text.clear();
    while (text.size() < length) {
        const std::size_t at = text.size();
        const std::size_t step = std::min(kTextChunk, length - at);
        text.resize(at + step);
        stream_.read(text.data() + at, static_cast<std::streamsize>(step));
        text.resize(at + static_cast<std::size_t>(stream_.gcount()));
        if (stream_.fail()) return false;
    }
    return !stream_.fail();
}
