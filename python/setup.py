"""Gives the package the version of the boardmill project it is built from: the one
project(VERSION ...) in ../CMakeLists.txt sets, the only place the version is written."""

import pathlib
import re

from setuptools import setup


def project_version():
    cmake_lists = pathlib.Path(__file__).resolve().parent.parent / "CMakeLists.txt"
    match = re.search(r"project\(boardmill\s+VERSION\s+([0-9.]+)", cmake_lists.read_text())
    if not match:
        raise RuntimeError(f"no project version in {cmake_lists}")
    return match.group(1)


setup(version=project_version())
