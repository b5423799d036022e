#pragma once
// Geodesy on the spheroid and the sphere, the bridge between geographic points and 3-D
// vectors, and the small vector, quaternion and matrix toolkit used for rotations.
// Plain C++ (no Qt); free functions without state.

#include "globe/GSysUtils.h"

namespace vtr {

// Ellipsoidal distance in GU (rounded half to even) between A and B on the spheroid: Vincenty's
// inverse solution with the spheroid's axis (GU) and flattening. Latitudes are taken in
// [-GU_90, GU_90] (larger values are clamped); longitudes may be unwrapped and may lie on either
// side of +-180. Heights are ignored; equal longitude and latitude give 0, as do two points on
// the same pole. Never fails: within 2 degrees of the antipode, where the iteration creeps or
// does not converge, the geodesic is solved on the auxiliary sphere by Newton's method on the
// start azimuth instead (see the .cpp); both agree with the exact geodesic to ~0.004 GU.
int32_t SpheroidDistance(const TGPointLL& a, const TGPointLL& b, TGSpheroid spheroid);
// Whether SpheroidDistance gets the pair from Vincenty's iteration (false: from the fallback).
// For tests and diagnostics.
bool SpheroidDistanceConverges(const TGPointLL& a, const TGPointLL& b, TGSpheroid spheroid);

// Initial great-circle course from A to B in GU, measured anticlockwise from north, in
// [-GU_180, GU_180] (the negated compass bearing: due east is -GU_90). The longitude step is
// taken the short way round across +-180; a due-north course gives a tiny positive angle, not
// 0 (the step is never 0). From a pole the course is relative to the meridian of A's longitude.
int32_t GreatCircleBearing(const TGPointLL& a, const TGPointLL& b);

// Point reached from start along a great circle of the sphere of radius EarthRadiusGU: angle
// in GU anticlockwise from north (a compass heading H is (360 - H) * GU_DEGREE), distance in GU
// (negative goes backwards). The longitude comes back wrapped into (-GU_180, GU_180], crossing
// +-180 and the poles as the circle does; height 0.
TGPointLL GreatCircleDestination(const TGPointLL& start, int32_t angle, int32_t distance);

// Geographic point (GU; height in GU above the sphere) to a 3-D vector of length
// EarthRadiusGU + height: X towards (0, 90E), Y to the north pole, Z towards (0, 0).
TGPoint3D LLToPoint3D(long double iLong, long double iLat, long double iHeight);
// Unit vector to a geographic point: longitude and latitude truncated toward zero to GU,
// longitude wrapped into (-GU_180, GU_180] (so -180 comes back as +180), height 0. A vector on
// the polar axis (X = Z = 0) gives longitude 0. |Y| >= 1 gives the pole.
TGPointLL Point3DToLL(const TGPoint3D& v);

// 3-D vectors. Normalizing leaves a near-zero vector (squared length <= 1e-10) unchanged.
TGPoint3D V3Normalize(const TGPoint3D& v);
TGPoint3D V3Make(long double x, long double y, long double z); // normalized
TGPoint3D V3Cross(const TGPoint3D& a, const TGPoint3D& b);     // normalized
double V3Dot(const TGPoint3D& a, const TGPoint3D& b);
TGPoint3D V3Add(const TGPoint3D& a, const TGPoint3D& b); // normalized
TGPoint3D V3Scale(const TGPoint3D& a, long double k);    // not normalized
// (v . row 0, v . row 1, v . row 2) of the 3 x 3 block, normalized.
TGPoint3D V3MulMatrix(const TGPoint3D& v, const TGMatrix& m);
TGPoint3D LLToUnitVector(const TGPointLL& pt);

// Rotations. Angles: QuatFromAxisAngle in radians (axis a unit vector); QuatFromEuler in
// degrees. QuatToMatrix writes the 3 x 3 block; the other terms are those of the identity.
// V3MulMatrix with QuatToMatrix(QuatFromAxisAngle(axis, t)) turns a vector by -t about axis
// (clockwise seen from the axis tip); MatrixTranspose3 of it turns back.
TGQuaternion QuatFromAxisAngle(const TGPoint3D& axis, double angle);
TGQuaternion QuatFromEuler(double p, double q, double r);
TGMatrix QuatToMatrix(const TGQuaternion& q);
TGMatrix MatrixIdentity();
TGMatrix MatrixScale(const TGMatrix& m, double k); // all 16 terms
TGMatrix MatrixTranspose3(const TGMatrix& m);      // 3 x 3 block; other terms kept

} // namespace vtr
