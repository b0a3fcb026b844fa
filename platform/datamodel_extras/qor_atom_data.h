// What a QOR file says of a model's atoms beyond their own values: the identifier an atom
// carries in the file. Images of a symmetry system carry their parent's identifier when they
// were made on demand, so an atom and its images name one non-symmetric atom.
#pragma once

class xxClass;
class xxObject;

class xxQorAtomData {
public:
    xxQorAtomData() = default;
    xxQorAtomData(const xxQorAtomData&) = delete;
    xxQorAtomData& operator=(const xxQorAtomData&) = delete;

    // The document whose objects are asked about and the class of the objects that have
    // identifiers in the file (xxBondable for QOR files).
    void Initialize(xxObject* root, const xxClass& atomClass);
    // The object's own identifier; 0 before Initialize, for an object of another class or one
    // outside the document.
    int GetNonSymmetricID(const xxObject& object) const;

private:
    const xxObject* root_ = nullptr;
    const xxClass* class_ = nullptr;
};
