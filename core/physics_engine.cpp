// Physics helpers (called from the physics, bullet and practice opponent threads; no state).
#include "core/physics_engine.h"

#include <cmath>

PhysicsEngine* g_PhysicsEngine = PhysicsEngine::GetInstance();

PhysicsEngine* PhysicsEngine::GetInstance() {
  static PhysicsEngine instance;
  return &instance;
}

void PhysicsEngine::CalculateAcceleration(float& vx, float& vy, float& x, float& y, float friction,
                                          float dt) const {
  x += vx * dt;
  y += vy * dt;
  const float f = friction < 0 ? 0.0f : (friction > 1 ? 1.0f : friction);
  vx *= 1 - f;
  vy *= 1 - f;
  // Let a dying glide stop instead of creeping on through denormals.
  if (std::fabs(vx) < 0.001f) vx = 0;
  if (std::fabs(vy) < 0.001f) vy = 0;
}

bool PhysicsEngine::AABBCollisionCheck(const float& x1, const float& y1, const float& w1, const float& h1,
                                       const float& x2, const float& y2, const float& w2,
                                       const float& h2) const {
  return x2 + w2 > x1 && x1 + w1 > x2 && y2 + h2 > y1 && y1 + h1 > y2;
}

bool PhysicsEngine::LineAABBIntersection(const float& x1, const float& y1, const float& x2, const float& y2,
                                         const CollisionBox& box) const {
  const float left = box.x, top = box.y;
  const float right = box.x + box.width, bottom = box.y + box.height;

  if (left > std::fmax(x1, x2) || std::fmin(x1, x2) > right || top > std::fmax(y1, y2) ||
      std::fmin(y1, y2) > bottom) {
    return false;
  }
  const auto strictly_inside = [&](float px, float py) {
    return right > px && px > left && bottom > py && py > top;
  };
  if (strictly_inside(x1, y1) || strictly_inside(x2, y2)) return true;

  // A zero dx or dy gives an infinite or NaN parameter, which fails the range test below.
  const float dx = x2 - x1, dy = y2 - y1;
  const auto vertical_hit = [&](float edge_x) {
    const float t = (edge_x - x1) / dx;
    const float hit_y = y1 + t * dy;
    return t >= 0 && t <= 1 && hit_y >= top && hit_y <= bottom;
  };
  const auto horizontal_hit = [&](float edge_y) {
    const float t = (edge_y - y1) / dy;
    const float hit_x = x1 + t * dx;
    return t >= 0 && t <= 1 && hit_x >= left && hit_x <= right;
  };
  return vertical_hit(left) || vertical_hit(right) || horizontal_hit(top) || horizontal_hit(bottom);
}

const CollisionBox* PhysicsEngine::LineCollisionCheck(const float& x1, const float& y1, const float& x2,
                                                      const float& y2,
                                                      const std::vector<CollisionBox>& boxes) const {
  for (const CollisionBox& box : boxes) {
    if (LineAABBIntersection(x1, y1, x2, y2, box)) return &box;
  }
  return nullptr;
}
