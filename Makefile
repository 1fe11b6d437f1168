# User entry points. `make test` sets up everything it needs on a fresh Debian machine.
BUILD      ?= build
ASAN_BUILD ?= build-asan
VENV       ?= .venv
PYTHON312  ?= $(firstword $(wildcard /root/.pyenv/versions/3.12*/bin/python3.12) $(shell command -v python3.12))
JOBS       ?= $(shell nproc)
CTEST_ARGS ?=

PACKAGES := $(shell grep -hv '^\#' packages-build.txt packages-test.txt)
SUDO     := $(if $(filter 0,$(shell id -u)),,sudo)

.PHONY: all deps venv configure build test asan-test demo bench format format-check clean

all: build

# Installs the Debian packages that are missing; silent when all are there.
deps:
	@missing=$$(for p in $(PACKAGES); do \
	    dpkg-query -W -f='$${Status}\n' $$p 2>/dev/null | grep -q 'install ok installed' || echo $$p; done); \
	if [ -n "$$missing" ]; then \
	    echo "installing:" $$missing; \
	    $(SUDO) apt-get update -qq && \
	    DEBIAN_FRONTEND=noninteractive $(SUDO) apt-get install -y -qq --no-install-recommends $$missing >/dev/null; \
	fi

venv: $(VENV)/.stamp

$(VENV)/.stamp: requirements.txt
	@test -n "$(PYTHON312)" || { echo "no CPython 3.12 found (set PYTHON312)"; exit 1; }
	$(PYTHON312) -m venv $(VENV)
	$(VENV)/bin/pip install -q --disable-pip-version-check -r requirements.txt
	@touch $@

$(BUILD)/build.ninja: CMakeLists.txt | deps venv
	cmake -S . -B $(BUILD) -G Ninja -DPython_EXECUTABLE=$(abspath $(VENV))/bin/python

$(ASAN_BUILD)/build.ninja: CMakeLists.txt | deps venv
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQUILLFEN_SANITIZE=ON \
	    -DPython_EXECUTABLE=$(abspath $(VENV))/bin/python

configure: $(BUILD)/build.ninja

build: deps venv $(BUILD)/build.ninja
	cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure $(CTEST_ARGS)

asan-test: deps venv $(ASAN_BUILD)/build.ninja
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	ctest --test-dir $(ASAN_BUILD) --output-on-failure $(CTEST_ARGS)

demo: build
	./scripts/demo.sh $(BUILD)/src/quillfen

bench: build
	./scripts/bench.sh $(BUILD)

SOURCES = git ls-files '*.cpp' '*.hpp' '*.c' '*.h'

format:
	$(SOURCES) | xargs clang-format -i

# Fails, naming each place, when a file is not as clang-format would write it.
format-check: deps
	$(SOURCES) | xargs clang-format --dry-run --Werror

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
