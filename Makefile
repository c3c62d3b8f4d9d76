# The two set-up commands: `make run` builds and starts the game,
# `make test` builds and runs the whole test suite. Both install what is missing first.
BUILD ?= build
PREFIX ?= /usr/local

.PHONY: deps build run test check bench fuzz sanitize tsan install package

deps:
	@bash scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -G Ninja
	cmake --build $(BUILD)

run: build
	cd $(BUILD) && ./vantorix

# The whole suite three times: on the regular build, then under the address and
# undefined-behaviour sanitizers, then under the thread sanitizer. Any finding fails it.
test: check sanitize tsan

# The regular build's suite alone, for a quick round while working.
check: build
	bash scripts/run-tests $(BUILD)

bench: build
	bash scripts/run-bench $(BUILD)

fuzz: deps
	bash scripts/run-fuzz

# The whole suite, end-to-end tests included, on a build under the address and
# undefined-behaviour sanitizers, and on one under the thread sanitizer.
sanitize: deps
	cmake -S . -B build-asan -G Ninja -DVANTORIX_SANITIZE=address,undefined -DVANTORIX_BENCH=OFF
	cmake --build build-asan
	bash scripts/run-tests build-asan

tsan: deps
	cmake -S . -B build-tsan -G Ninja -DVANTORIX_SANITIZE=thread -DVANTORIX_BENCH=OFF
	cmake --build build-tsan
	bash scripts/run-tests build-tsan

# The game as a desktop program: binary, menu entry and icon under PREFIX (DESTDIR is honoured).
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

# The Debian package of the same files under /usr, written into $(BUILD).
package: build
	cd $(BUILD) && cpack -G DEB
