// Particle store and the particle thread's loop. Store operations run on the particle,
// spawner and render threads, each under the store's mutex; drawing runs on the render
// thread from a copy, so it never holds the mutex while painting.
#include "effects/particle_manager.h"

#include <algorithm>
#include <utility>

#include "gfx/graphics.h"
#include "records/game_records.h"
#include "services/tick_pacing.h"

ParticleManager& ParticleManager::GetInstance() {
  static ParticleManager instance;
  return instance;
}

void ParticleManager::AddParticle(const Particle& particle) {
  std::lock_guard lock(mutex);
  particles.push_back(particle);
}

void ParticleManager::AddParticles(const std::vector<Particle>& batch) {
  std::lock_guard lock(mutex);
  particles.reserve(particles.size() + batch.size());
  particles.insert(particles.end(), batch.begin(), batch.end());
}

bool ParticleManager::RemoveParticle(int index) {
  std::lock_guard lock(mutex);
  if (index < 0 || static_cast<size_t>(index) >= particles.size()) return false;
  particles.erase(particles.begin() + index);
  return true;
}

void ParticleManager::RemoveAllParticles(bool onlyInactive) {
  std::lock_guard lock(mutex);
  if (!onlyInactive) {
    particles.clear();
    return;
  }
  std::erase_if(particles, [](const Particle& p) { return !p.active; });
}

std::vector<Particle>& ParticleManager::GetParticles() { return particles; }

Particle& ParticleManager::GetParticle(int index) {
  static Particle fallback;
  std::lock_guard lock(mutex);
  if (index >= 0 && static_cast<size_t>(index) < particles.size()) return particles[index];
  // The fallback is handed out by non-const reference; a caller that wrote to it must not
  // change what the next out-of-range lookup sees.
  fallback = Particle{};
  return fallback;
}

void ParticleManager::UpdateParticles() {
  std::lock_guard lock(mutex);
  for (auto it = particles.rbegin(); it != particles.rend(); ++it) {
    Particle& p = *it;
    if (!p.active) continue;
    if (p.update) {
      Particle next = p.update(Particle(p));
      p.x = next.x;
      p.y = next.y;
      p.vx = next.vx;
      p.vy = next.vy;
      p.color = next.color;
      p.size = next.size;
      p.life = next.life;
      p.age = next.age;
      p.active = next.active;
      p.update.swap(next.update);  // the old rule dies with `next`
    }
    ++p.age;
  }
}

void ParticleManager::CheckParticleLife() {
  std::lock_guard lock(mutex);
  for (Particle& p : particles)
    if (p.age >= p.life) p.active = false;
}

std::vector<Particle> ParticleManager::GetParticlesCopy() const {
  std::lock_guard lock(mutex);
  return particles;
}

void CalculateParticle(Particle& particle) {
  if (!particle.active) return;
  particle.x += particle.vx;
  particle.y += particle.vy;
}

void RenderParticle(const Particle& particle) {
  if (!particle.active) return;
  setfillcolor(particle.color);
  fillcircle(static_cast<int>(particle.x), static_cast<int>(particle.y), static_cast<int>(particle.size));
}

void RenderAllParticles() {
  const std::vector<Particle> snapshot = ParticleManager::GetInstance().GetParticlesCopy();
  for (const Particle& p : snapshot) RenderParticle(p);
}

void ParticleTick() {
  ParticleManager& store = ParticleManager::GetInstance();
  {
    std::lock_guard lock(store.Mutex());
    for (Particle& p : store.GetParticles()) CalculateParticle(p);
  }
  store.CheckParticleLife();
  store.UpdateParticles();
  store.RemoveAllParticles(true);
}

void up_particle() {
  ParticleManager::GetInstance();
  RunFixedRateLoop(refresh_rate[kRateGameLoops], nullptr, ParticleTick);
}
