// Bits of the 32-bit assignment mask (xxObject::AssignedMask) used by the property templates.
// A bit belongs to one template for good: every class of a chain has its own range, so a derived
// class never takes a bit of its bases. Classes on different chains (atoms, dummies, pi systems)
// may use the same range, since no object is of both.
//
//   chain                                 bits    templates
//   xxMatter                              0-7     XYZ 0, Velocity 1, Charge 2, ForcefieldType 3,
//                                                 RelativeVelocity 4, Force 5 (detached values)
//     xxBondable                          8-11    ImportOrder 8
//       xxAtom                            12-15   IsOutOfPlane 12, IsBackboneAtom 13
//         xxAtom3d                        16-23   Element 16, Isotope 17, FormalCharge 18,
//                                                 Occupancy 19, IsotropicTF 20, AppliedTF 21,
//                                                 Hybridization 22, AnisotropicTF 23
//       xxDummyBase                       12-15   DummySymbol 12, DummyKind 13
//       xxPiSystem                        12-15   HasDynamicPosition 12
//   xxBondableInteraction                 0-7     (none)
//     xxBond                              8-11    Order 8, BondType 9
//   xxMonitor                             0-7     (none)
//     xxGeometryMonitor                   8-11    LabeledMeasurement 8
//   xxTreeRoot                            (none)
//     xxClassicalEnergyHolder             0-23    the energies in their order, TotalEnergy 0 ...
//                                                 Temperature 23
//   xxSymmetrySystem                      (none)
//     xxMatterSymmetrySystem              0-7     PotentialStress 0, _TrajectoryStress 1
//   xxTrajectory                          24-31   TrajectoryType 24
//   xxLinkage                             0-7     HeadTail 0
//   xxLegacySurfaceObject                 0-7     XYZ 0
//   bits 24-31 are free for classes derived from the others above
// Setters that assign a field themselves mark it with their template's Mask(); a test walks
// every registered class and fails when two templates of one class share a bit.
#pragma once

namespace xxPropertyBit {
inline constexpr unsigned kXYZ = 0;
inline constexpr unsigned kVelocity = 1;
inline constexpr unsigned kCharge = 2;
inline constexpr unsigned kForcefieldType = 3;
inline constexpr unsigned kRelativeVelocity = 4;
inline constexpr unsigned kForce = 5;

inline constexpr unsigned kImportOrder = 8;

inline constexpr unsigned kIsOutOfPlane = 12;
inline constexpr unsigned kIsBackboneAtom = 13;
inline constexpr unsigned kIsChiralCenter = 14;

inline constexpr unsigned kElement = 16;
inline constexpr unsigned kIsotope = 17;
inline constexpr unsigned kFormalCharge = 18;
inline constexpr unsigned kOccupancy = 19;
inline constexpr unsigned kIsotropicTF = 20;
inline constexpr unsigned kAppliedTF = 21;
inline constexpr unsigned kHybridization = 22;
inline constexpr unsigned kAnisotropicTF = 23;

inline constexpr unsigned kDummySymbol = 12;
inline constexpr unsigned kDummyKind = 13;
inline constexpr unsigned kHasDynamicPosition = 12;

inline constexpr unsigned kBondOrder = 8;
inline constexpr unsigned kBondType = 9;

inline constexpr unsigned kLabeledMeasurement = 8;

inline constexpr unsigned kFirstEnergy = 0;  // 24 bits, one per energy

inline constexpr unsigned kPotentialStress = 0;
inline constexpr unsigned kTrajectoryStress = 1;

inline constexpr unsigned kTrajectoryType = 24;

inline constexpr unsigned kHeadTail = 0;
inline constexpr unsigned kSurfaceXYZ = 0;

constexpr unsigned Mask(unsigned bit) { return 1u << bit; }
}  // namespace xxPropertyBit
