// Base of the trajectory frame loaders: the trajectory's file, its stream and byte order,
// and the model the frames move.
#pragma once

#include <cstddef>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "cfx/cfx.h"
#include "datamodel/event_sink.h"
#include "utilities/file_listing.h"
#include "utilities/frame_provider.h"
#include "utilities/load.h"

class xxFrameLoader : public xxFrameProvider, public xxLoad, public xxEventSink {
public:
    static constexpr int kTextFile = 1;    // text files and host-stream loaders
    static constexpr int kBinaryFile = 2;  // binary files, read through ReadTranslate

    // frameLoaderType is kTextFile or kBinaryFile; anything else is Cfx::CfxResult E_INVALIDARG.
    explicit xxFrameLoader(int frameLoaderType);
    ~xxFrameLoader() override;

    // Binds the loader to the trajectory's model: the file name is the path of the file of the
    // document that holds the trajectory's tree, without its extension but with the "." (so
    // that appending the type text names "<stem>.<type>" beside the document); the model and
    // target object are the tree root; the symmetry system is the root's first matter symmetry
    // system (none for a model that is not periodic). False, with the error message set, for a
    // null trajectory or one in a tree that no document with a file holds. Overrides call this
    // first, then append their type text to the file name.
    bool Init(const xxTrajectory* trajectory, const std::vector<unsigned>& classTypes) override;
    void OnNewFrame(long frame) override;
    void OnProcessEvent(const xxEvent& event) override;
    void OnTriggerDeletion(xxTrigger* trigger) override;

    // Opens the file named by the file name; when no file has exactly that name, the one file
    // in the same directory whose name matches it without regard to case (a trajectory
    // "RUN.ARC" beside "run.xtd"), whose path then becomes the file name. Opens nest: an inner
    // OpenFile/CloseFile pair leaves the file open, at its position, for the caller; the
    // outermost CloseFile closes. A failed open changes nothing and needs no CloseFile.
    bool OpenFile();
    void CloseFile();
    bool IsFileOpen() const { return openDepth_ > 0; }
    int OpenDepth() const { return openDepth_; }

    // Closes at scope exit what its own OpenFile opened.
    class OpenedFile {
    public:
        explicit OpenedFile(xxFrameLoader& loader) : loader_(loader), open_(loader.OpenFile()) {}
        ~OpenedFile() {
            if (open_) loader_.CloseFile();
        }
        OpenedFile(const OpenedFile&) = delete;
        OpenedFile& operator=(const OpenedFile&) = delete;
        explicit operator bool() const { return open_; }

    private:
        xxFrameLoader& loader_;
        bool open_;
    };

    // count elements of width bytes (which must be the element's size) from the file, each
    // reversed while the byte-order flag is set. With skip the stream advances by the same
    // bytes and destination is left alone. False once the stream has failed.
    bool ReadTranslate(int* destination, std::size_t width, std::size_t count, bool skip);
    bool ReadTranslate(float* destination, std::size_t width, std::size_t count, bool skip);
    bool ReadTranslate(double* destination, std::size_t width, std::size_t count, bool skip);
    // length characters as they stand (never reversed); with skip the stream only advances.
    // The text grows with what arrives, so a length beyond the file costs no more than the file.
    bool Read(std::string& text, std::size_t length, bool skip);

    void SetTrajectoryType(std::string type) { trajectoryType_ = std::move(type); }
    const std::string& TrajectoryTypeText() const { return trajectoryType_; }
    // Hook for the trigger that animates the trajectory; the event system does not raise one yet.
    void SetupAnimateTrigger() {}

    std::istream& GetIstream() { return stream_; }
    std::ifstream& GetIstream64() { return stream_; }

    int FrameLoaderType() const { return type_; }
    bool SwapsBytes() const { return swapBytes_; }
    long CurrentFrame() const { return currentFrame_; }  // -1 before the first OnNewFrame

    // The host's file-listing service; may be absent.
    ISBFileListing* FileListing() const { return fileListing_.Get(); }
    void SetFileListing(ISBFileListing* listing) { fileListing_ = listing; }

protected:
    // Copies the base state; the copy's file starts closed.
    xxFrameLoader(const xxFrameLoader& other);
    xxFrameLoader& operator=(const xxFrameLoader&) = delete;

    std::string fileName_;       // the trajectory file; each loader appends its type text
    bool swapBytes_ = false;     // the file's byte order differs from ours
    xxObject* modelObject_ = nullptr;             // the model whose atoms the frames move
    xxObject* targetObject_ = nullptr;            // where a frame's energies go
    xxSymmetrySystem* symmetrySystem_ = nullptr;  // none for a non-periodic model
    xxTreeRoot* treeRoot_ = nullptr;
    const xxTrajectory* trajectory_ = nullptr;
    std::vector<unsigned> classTypes_;

private:
    template <class T>
    bool ReadElements(T* destination, std::size_t width, std::size_t count, bool skip);
    bool Skip(std::size_t bytes);

    int type_;
    std::ifstream stream_;
    int openDepth_ = 0;
    long currentFrame_ = -1;
    std::string trajectoryType_;
    CfxComPtr<ISBFileListing> fileListing_;
};
