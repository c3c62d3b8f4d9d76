// The particle store: every live spark, dust grain and blood drop, moved and aged by the
// particle thread, fed by the effect spawners (the bullet thread's blood splash, the bleeding
// threads' drops), drawn from a snapshot by the render thread and emptied by the main thread
// between matches. One mutex guards the live sequence.
#pragma once

#include <functional>
#include <mutex>
#include <vector>

struct Particle {
  float x = 0;
  float y = 0;
  float vx = 0;  // pixels per tick
  float vy = 0;
  unsigned long color = 0xFFFFFF;  // 0x00BBGGRR
  float size = 5.0f;               // radius, truncated when drawn
  int life = 60;                   // ticks of the particle thread
  int age = 0;
  bool active = true;
  // Gets a copy of the particle and returns its next state; must not call into the store.
  std::function<Particle(Particle)> update;
};

class ParticleManager {
 public:
  static ParticleManager& GetInstance();

  void AddParticle(const Particle& particle);
  void AddParticles(const std::vector<Particle>& batch);
  bool RemoveParticle(int index);
  void RemoveAllParticles(bool onlyInactive);
  // The live sequence, unlocked: hold Mutex() while walking it.
  std::vector<Particle>& GetParticles();
  // The particle at `index`, or a default particle when out of range. Use it at once: an
  // addition or removal invalidates the reference.
  Particle& GetParticle(int index);
  void UpdateParticles();
  void CheckParticleLife();
  std::vector<Particle> GetParticlesCopy() const;
  std::mutex& Mutex() { return mutex; }

  ParticleManager(const ParticleManager&) = delete;
  ParticleManager& operator=(const ParticleManager&) = delete;

 private:
  ParticleManager() = default;

  std::vector<Particle> particles;
  mutable std::mutex mutex;
};

// Moves an active particle by its velocity.
void CalculateParticle(Particle& particle);
// Sets the fill colour to the particle's (even outside a batch) and draws it as a disc.
void RenderParticle(const Particle& particle);
// Draws a snapshot of the store, oldest first; call inside a batch.
void RenderAllParticles();
// One tick of the particle thread: move, life check, update, sweep.
void ParticleTick();
// Body of the particle thread; returns once the close request is set.
void up_particle();
