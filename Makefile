# The two set-up commands: `make run` builds and starts the game,
# `make test` builds and runs the whole test suite. Both install what is missing first.
BUILD ?= build

.PHONY: deps build run test bench fuzz

deps:
	@bash scripts/install-deps

build: deps
	cmake -S . -B $(BUILD) -G Ninja
	cmake --build $(BUILD)

run: build
	cd $(BUILD) && ./vantorix

test: build
	bash scripts/run-tests $(BUILD)

bench: build
	bash scripts/run-bench $(BUILD)

fuzz: deps
	bash scripts/run-fuzz
