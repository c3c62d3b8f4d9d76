// Integration, box overlap and segment-against-box tests shared by the player and bullet
// loops. Stateless, so the physics, bullet and practice opponent threads call it freely.
#pragma once

#include <vector>

struct CollisionBox {
  float x = 0, y = 0;  // top-left corner
  float width = 0, height = 0;
};

class PhysicsEngine {
 public:
  static PhysicsEngine* GetInstance();

  // One step: advance the position by the undamped velocity times dt, then damp the
  // velocity by friction (limited to 0..1) and snap components below 0.001 to zero.
  void CalculateAcceleration(float& vx, float& vy, float& x, float& y, float friction, float dt) const;

  // True when the boxes overlap with positive area; touching along an edge is not overlap.
  bool AABBCollisionCheck(const float& x1, const float& y1, const float& w1, const float& h1,
                          const float& x2, const float& y2, const float& w2, const float& h2) const;

  // Whether the segment (x1, y1)-(x2, y2) meets the box.
  bool LineAABBIntersection(const float& x1, const float& y1, const float& x2, const float& y2,
                            const CollisionBox& box) const;

  // The first box in list order that the segment meets, or null.
  const CollisionBox* LineCollisionCheck(const float& x1, const float& y1, const float& x2, const float& y2,
                                         const std::vector<CollisionBox>& boxes) const;

 private:
  PhysicsEngine() = default;
};

extern PhysicsEngine* g_PhysicsEngine;
