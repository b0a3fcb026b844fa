// Classes registered by the static initialisers of two files, each naming a class of the other
// as its base: Shape and Disc in class_registry_peer.cpp, Circle and Label in
// class_registry_test.cpp.
#pragma once

#include "datamodel/class.h"

namespace registry_test {

class Shape : public xxClassInstance {  // abstract
public:
    static const xxClass Class;
    const xxClass& GetClass() const override { return Class; }
};

class Circle : public Shape {  // base Shape
public:
    static const xxClass Class;
    const xxClass& GetClass() const override { return Class; }
};

class Disc : public Circle {  // base Circle
public:
    static const xxClass Class;
    const xxClass& GetClass() const override { return Class; }
};

class Label : public xxClassInstance {  // no base; second name "RegistryTestCaption"
public:
    static const xxClass Class;
    const xxClass& GetClass() const override { return Class; }
};

}  // namespace registry_test
