// The QOR writer: a document's model as a QOR file. Objects are numbered first (the model 1,
// its bondable objects 2, 3, ... in tree order), then written in one walk of the tree.
#pragma once

#include <ostream>
#include <string>

#include "com/types.h"
#include "utilities/load.h"

class xxSaveQOR : public xxSave {
public:
    // False, with GetErrorMessage saying why, for a model the writer cannot write whole; the
    // stream's state is the caller's to check.
    xxBool SaveObjectToStream(std::ostream& out, xxObject* source, std::string name) override;
    const std::string& GetErrorMessage() const { return error_; }

private:
    std::string error_;
};
