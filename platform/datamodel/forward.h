// Data-model types that interfaces name before their own headers exist.
#pragma once

using xxBool = bool;

class xxClass;
class xxClassInstance;
struct xxPropertyTable;

class xxObject;
class xxIterator;
class xxTransformMatrix;
class xxTrajectory;
class xxTreeRoot;
class xxSymmetrySystem;
class xxEvent;
class xxTrigger;
