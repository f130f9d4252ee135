# Builds one of a few small test scenes from nothing and renders it with
# Cycles on the CPU into a 32-bit multilayer OpenEXR file holding the
# combined image and the light, normal, position and depth passes.
#
#   blender -b --factory-startup --python-exit-code 1 \
#       -P tools/cycles_scenes/scenes.py -- \
#       --scene room --size 192x144 --spp 16 --seed 1 --output FRAME.exr
#
# Scenes:
#   room  closed room under a ceiling area lamp and a small point lamp:
#         checker floor, brick wall with black mortar, black box, glossy
#         head, chrome ball, diffuse ball.
#   hall  room lit only through a door by the sun and the sky outside;
#         most of what the camera sees is lit indirectly.
#   yard  open ground under a sun lamp and a sky; much of the frame is sky.
#
# --frame N (N > 0) renders frame N of a shot: the camera dollies and a
# ball rolls (see move_to_frame).
#
# Prints "camera X,Y,Z" (the camera's world location) and "render seconds T".
# Sampling is fixed (no adaptive sampling, no denoising, the given seed).

import argparse
import math
import os
import sys
import time
import traceback

import bmesh
import bpy
from mathutils import Matrix, Vector


# ---------------------------------------------------------------- arguments

def parse_arguments():
    argv = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []
    parser = argparse.ArgumentParser(prog="scenes.py")
    parser.add_argument("--scene", choices=sorted(SCENES), default="room")
    parser.add_argument("--size", default="192x144", help="WIDTHxHEIGHT")
    parser.add_argument("--spp", type=int, default=16)
    parser.add_argument("--seed", type=int, default=0)
    parser.add_argument("--threads", type=int, default=0,
                        help="render threads, 0 for all cores")
    parser.add_argument("--frame", type=int, default=0,
                        help="frame of a shot: the camera dollies and a ball "
                             "rolls; 0 is the still scene")
    parser.add_argument("--output", required=True, help="file.exr")
    arguments = parser.parse_args(argv)
    try:
        width, height = (int(v) for v in arguments.size.lower().split("x"))
    except ValueError:
        parser.error("--size must look like 192x144")
    if width < 1 or height < 1 or arguments.spp < 1:
        parser.error("--size and --spp must be positive")
    arguments.width, arguments.height = width, height
    return arguments


# ---------------------------------------------------------------- building

def clear_everything():
    for collection in (bpy.data.objects, bpy.data.meshes, bpy.data.lights,
                       bpy.data.cameras, bpy.data.materials):
        for block in list(collection):
            collection.remove(block)


def link(name, data, location=(0, 0, 0)):
    obj = bpy.data.objects.new(name, data)
    obj.location = location
    bpy.context.scene.collection.objects.link(obj)
    return obj


def mesh_object(name, bm, material, location=(0, 0, 0), smooth=False):
    if smooth:
        for face in bm.faces:
            face.smooth = True
    mesh = bpy.data.meshes.new(name)
    bm.to_mesh(mesh)
    bm.free()
    mesh.materials.append(material)
    return link(name, mesh, location)


def box(name, lo, hi, material, rotate_z_degrees=0.0):
    """An axis-aligned box from corner lo to corner hi, in world units, so
    that object texture coordinates are world coordinates (bricks and checks
    keep their size). rotate_z_degrees turns it about its own centre."""
    bm = bmesh.new()
    bmesh.ops.create_cube(bm, size=1.0)
    size = [h - l for l, h in zip(lo, hi)]
    centre = Vector([(l + h) / 2 for l, h in zip(lo, hi)])
    bmesh.ops.scale(bm, vec=size, verts=bm.verts)
    bmesh.ops.rotate(bm, verts=bm.verts, cent=(0, 0, 0),
                     matrix=Matrix.Rotation(math.radians(rotate_z_degrees), 3, "Z"))
    bmesh.ops.translate(bm, vec=centre, verts=bm.verts)
    return mesh_object(name, bm, material)


def sphere(name, centre, radius, material):
    bm = bmesh.new()
    bmesh.ops.create_uvsphere(bm, u_segments=64, v_segments=32, radius=radius)
    return mesh_object(name, bm, material, centre, smooth=True)


def cylinder(name, centre, radius, height, material, segments=32):
    bm = bmesh.new()
    bmesh.ops.create_cone(bm, cap_ends=True, segments=segments,
                          radius1=radius, radius2=radius, depth=height)
    return mesh_object(name, bm, material, centre, smooth=False)


def pyramid(name, centre, half_width, height, material):
    bm = bmesh.new()
    bmesh.ops.create_cone(bm, cap_ends=True, segments=4,
                          radius1=half_width * math.sqrt(2), radius2=0.0,
                          depth=height,
                          matrix=Matrix.Rotation(math.radians(45), 4, "Z"))
    return mesh_object(name, bm, material, centre)


def head(name, centre, scale, material, turn_degrees):
    bm = bmesh.new()
    bmesh.ops.create_monkey(bm)
    bmesh.ops.scale(bm, vec=(scale, scale, scale), verts=bm.verts)
    # Face the monkey's front (-Y) towards -Y turned about Z, upright.
    bmesh.ops.rotate(bm, verts=bm.verts, cent=(0, 0, 0),
                     matrix=Matrix.Rotation(math.radians(turn_degrees), 3, "Z"))
    obj = mesh_object(name, bm, material, centre, smooth=True)
    modifier = obj.modifiers.new("subdivision", "SUBSURF")
    modifier.levels = modifier.render_levels = 2
    return obj


def look_at(obj, target):
    direction = Vector(target) - obj.location
    obj.rotation_euler = direction.to_track_quat("-Z", "Y").to_euler()


def camera(location, target, lens_mm):
    data = bpy.data.cameras.new("camera")
    data.lens = lens_mm
    data.clip_start = 0.05
    data.clip_end = 1000.0
    obj = link("camera", data, location)
    look_at(obj, target)
    bpy.context.scene.camera = obj
    return obj


def lamp(kind, location, energy, target=None, **settings):
    data = bpy.data.lights.new(kind.lower() + "-lamp", type=kind)
    data.energy = energy
    for key, value in settings.items():
        setattr(data, key, value)
    obj = link(data.name, data, location)
    if target is not None:
        look_at(obj, target)
    return obj


def sun(energy, elevation_degrees, azimuth_degrees, angle_degrees):
    """A sun lamp whose light comes from the given elevation and azimuth
    (azimuth 0 is +X, 90 is +Y)."""
    e, a = math.radians(elevation_degrees), math.radians(azimuth_degrees)
    towards_sun = Vector((math.cos(e) * math.cos(a), math.cos(e) * math.sin(a), math.sin(e)))
    obj = lamp("SUN", towards_sun * 10.0, energy, angle=math.radians(angle_degrees))
    obj.rotation_euler = (-towards_sun).to_track_quat("-Z", "Y").to_euler()
    return obj


# ---------------------------------------------------------------- materials

class Material:
    """A node material around one Principled BSDF."""

    def __init__(self, name, colour=(0.8, 0.8, 0.8), roughness=0.5,
                 metallic=0.0, specular=0.5):
        self.material = bpy.data.materials.new(name)
        self.material.use_nodes = True
        self.nodes = self.material.node_tree.nodes
        self.links = self.material.node_tree.links
        self.bsdf = self.nodes["Principled BSDF"]
        self.bsdf.inputs["Base Color"].default_value = (*colour, 1.0)
        self.bsdf.inputs["Roughness"].default_value = roughness
        self.bsdf.inputs["Metallic"].default_value = metallic
        self.bsdf.inputs["Specular"].default_value = specular

    def object_coordinates(self):
        coordinates = self.nodes.new("ShaderNodeTexCoord")
        return coordinates.outputs["Object"]

    def colour_from(self, texture_output):
        self.links.new(texture_output, self.bsdf.inputs["Base Color"])
        return self.material


def plain(name, colour, roughness=0.5, metallic=0.0, specular=0.5):
    return Material(name, colour, roughness, metallic, specular).material


def pure_black(name):
    """Zero diffuse and zero gloss: a diffuse closure of weight zero."""
    material = bpy.data.materials.new(name)
    material.use_nodes = True
    nodes = material.node_tree.nodes
    nodes.remove(nodes["Principled BSDF"])
    diffuse = nodes.new("ShaderNodeBsdfDiffuse")
    diffuse.inputs["Color"].default_value = (0.0, 0.0, 0.0, 1.0)
    material.node_tree.links.new(diffuse.outputs["BSDF"],
                                 nodes["Material Output"].inputs["Surface"])
    return material


def checker(name, colour1, colour2, scale, roughness=0.4):
    m = Material(name, roughness=roughness)
    texture = m.nodes.new("ShaderNodeTexChecker")
    texture.inputs["Color1"].default_value = (*colour1, 1.0)
    texture.inputs["Color2"].default_value = (*colour2, 1.0)
    texture.inputs["Scale"].default_value = scale
    m.links.new(m.object_coordinates(), texture.inputs["Vector"])
    return m.colour_from(texture.outputs["Color"])


def bricks(name, colour1, colour2, mortar, scale=1.0, brick_width=0.5,
           row_height=0.25, mortar_size=0.02, roughness=0.8, specular=0.3):
    m = Material(name, roughness=roughness, specular=specular)
    texture = m.nodes.new("ShaderNodeTexBrick")
    texture.offset = 0.5
    texture.inputs["Color1"].default_value = (*colour1, 1.0)
    texture.inputs["Color2"].default_value = (*colour2, 1.0)
    texture.inputs["Mortar"].default_value = (*mortar, 1.0)
    texture.inputs["Scale"].default_value = scale
    texture.inputs["Mortar Size"].default_value = mortar_size
    texture.inputs["Brick Width"].default_value = brick_width
    texture.inputs["Row Height"].default_value = row_height
    # Bricks are laid in the texture's XY plane; walls stand in XZ or YZ.
    # Mixing the object coordinates as (x + y, z, 0) lays them on any
    # vertical wall that is parallel to an axis.
    separate = m.nodes.new("ShaderNodeSeparateXYZ")
    combine = m.nodes.new("ShaderNodeCombineXYZ")
    along = m.nodes.new("ShaderNodeMath")
    along.operation = "ADD"
    m.links.new(m.object_coordinates(), separate.inputs["Vector"])
    m.links.new(separate.outputs["X"], along.inputs[0])
    m.links.new(separate.outputs["Y"], along.inputs[1])
    m.links.new(along.outputs["Value"], combine.inputs["X"])
    m.links.new(separate.outputs["Z"], combine.inputs["Y"])
    m.links.new(combine.outputs["Vector"], texture.inputs["Vector"])
    return m.colour_from(texture.outputs["Color"])


def grass(name):
    m = Material(name, roughness=0.9, specular=0.2)
    noise = m.nodes.new("ShaderNodeTexNoise")
    noise.inputs["Scale"].default_value = 0.35
    noise.inputs["Detail"].default_value = 6.0
    ramp = m.nodes.new("ShaderNodeValToRGB")
    ramp.color_ramp.elements[0].position = 0.4
    ramp.color_ramp.elements[0].color = (0.05, 0.12, 0.02, 1.0)
    ramp.color_ramp.elements[1].position = 0.65
    ramp.color_ramp.elements[1].color = (0.25, 0.2, 0.08, 1.0)
    m.links.new(m.object_coordinates(), noise.inputs["Vector"])
    m.links.new(noise.outputs["Fac"], ramp.inputs["Fac"])
    return m.colour_from(ramp.outputs["Color"])


def world_colour(colour, strength):
    world = bpy.data.worlds.new("world")
    world.use_nodes = True
    background = world.node_tree.nodes["Background"]
    background.inputs["Color"].default_value = (*colour, 1.0)
    background.inputs["Strength"].default_value = strength
    bpy.context.scene.world = world
    return world


def world_sky(sun_elevation_degrees, sun_azimuth_degrees, strength):
    world = world_colour((0, 0, 0), strength)
    nodes = world.node_tree.nodes
    sky = nodes.new("ShaderNodeTexSky")
    sky.sky_type = "NISHITA"
    sky.sun_disc = False  # the sun lamp is the sun
    sky.sun_elevation = math.radians(sun_elevation_degrees)
    # The sky's sun rotation turns from +Y towards -X; the lamp's azimuth
    # turns from +X towards +Y.
    sky.sun_rotation = math.radians(sun_azimuth_degrees - 90.0)
    world.node_tree.links.new(sky.outputs["Color"], nodes["Background"].inputs["Color"])
    return world


# ---------------------------------------------------------------- scenes

def room_walls(x0, x1, y0, y1, height, floor, ceiling, walls, t=0.1):
    """Floor, ceiling and four walls enclosing [x0,x1] x [y0,y1] x [0,height].
    walls: materials for the -X, +X, -Y and +Y walls."""
    box("floor", (x0 - t, y0 - t, -t), (x1 + t, y1 + t, 0.0), floor)
    box("ceiling", (x0 - t, y0 - t, height), (x1 + t, y1 + t, height + t), ceiling)
    box("wall-x0", (x0 - t, y0, 0.0), (x0, y1, height), walls[0])
    box("wall-x1", (x1, y0, 0.0), (x1 + t, y1, height), walls[1])
    box("wall-y0", (x0, y0 - t, 0.0), (x1, y0, height), walls[2])
    box("wall-y1", (x0, y1, 0.0), (x1, y1 + t, height), walls[3])


def build_room():
    white = plain("white", (0.8, 0.8, 0.78), roughness=0.9)
    blue = plain("blue-wall", (0.2, 0.3, 0.6), roughness=0.7)
    brick = bricks("brick-black-mortar", (0.55, 0.18, 0.1), (0.4, 0.14, 0.08),
                   (0.0, 0.0, 0.0))
    floor = checker("checker-floor", (0.75, 0.72, 0.65), (0.08, 0.08, 0.1), 3.0)
    room_walls(-3.0, 3.0, -3.0, 3.0, 2.8, floor, white,
               (blue, white, white, brick))

    box("black-box", (-2.0, 1.0, 0.0), (-1.1, 1.9, 0.9), pure_black("black"), 25.0)
    gold = plain("gold", (0.95, 0.7, 0.3), roughness=0.2, metallic=1.0)
    head("glossy-head", (1.3, 1.0, 0.45), 0.45, gold, -20.0)
    box("pedestal", (0.9, 0.7, 0.0), (1.7, 1.3, 0.1), white)
    sphere("chrome-ball", (-0.9, 0.5, 0.3), 0.3,
           plain("chrome", (0.9, 0.9, 0.9), roughness=0.03, metallic=1.0))
    sphere("diffuse-ball", (0.1, 0.2, 0.4), 0.4,
           plain("red", (0.7, 0.12, 0.1), roughness=1.0, specular=0.0))

    lamp("AREA", (0.0, 0.3, 2.78), 100.0, size=1.2)
    lamp("POINT", (2.4, -1.5, 2.2), 25.0, shadow_soft_size=0.05)
    world_colour((0.0, 0.0, 0.0), 0.0)
    return camera((0.6, -2.7, 1.45), (-0.1, 1.2, 0.6), 22.0)


def build_hall():
    plaster = plain("plaster", (0.7, 0.68, 0.62), roughness=0.9)
    ceiling = plain("ceiling", (0.8, 0.8, 0.8), roughness=0.95)
    floor = bricks("tile-floor", (0.45, 0.32, 0.2), (0.35, 0.24, 0.15),
                   (0.05, 0.05, 0.05), brick_width=0.8, row_height=0.2,
                   mortar_size=0.01, roughness=0.35, specular=0.5)
    # Floor tiles lie flat: lay the brick texture in the floor's own plane.
    floor_texture = floor.node_tree.nodes["Brick Texture"]
    floor.node_tree.links.new(floor.node_tree.nodes["Texture Coordinate"].outputs["Object"],
                              floor_texture.inputs["Vector"])

    x0, x1, y0, y1, height, t = -4.0, 4.0, -2.5, 2.5, 3.0, 0.2
    door_y0, door_y1, door_top = 0.2, 1.5, 2.2
    box("floor", (x0 - t, y0 - t, -t), (x1 + t, y1 + t, 0.0), floor)
    box("ceiling", (x0 - t, y0 - t, height), (x1 + t, y1 + t, height + t), ceiling)
    box("wall-x0", (x0 - t, y0, 0.0), (x0, y1, height), plaster)
    box("wall-y0", (x0, y0 - t, 0.0), (x1, y0, height), plaster)
    box("wall-y1", (x0, y1, 0.0), (x1, y1 + t, height), plaster)
    box("wall-x1-a", (x1, y0 - t, 0.0), (x1 + t, door_y0, height), plaster)
    box("wall-x1-b", (x1, door_y1, 0.0), (x1 + t, y1 + t, height), plaster)
    box("lintel", (x1, door_y0, door_top), (x1 + t, door_y1, height), plaster)

    wood = plain("wood", (0.35, 0.2, 0.1), roughness=0.45)
    box("table-top", (-2.2, -0.9, 0.72), (-0.6, 0.1, 0.78), wood)
    for i, (x, y) in enumerate(((-2.1, -0.8), (-0.7, -0.8), (-2.1, 0.0), (-0.7, 0.0))):
        box("table-leg-%d" % i, (x - 0.04, y - 0.04, 0.0), (x + 0.04, y + 0.04, 0.72), wood)
    sphere("vase", (-1.4, -0.4, 0.98), 0.2,
           plain("glaze", (0.1, 0.35, 0.5), roughness=0.1, specular=0.8))
    cylinder("pillar", (1.0, -1.2, height / 2), 0.25, height, plaster)
    box("black-cabinet", (-0.4, -2.5, 0.0), (1.0, -1.9, 1.4), pure_black("black"))
    sphere("ball", (2.2, 1.7, 0.3), 0.3, plain("yellow", (0.8, 0.6, 0.1), roughness=0.8))

    outside = plain("outside-ground", (0.3, 0.28, 0.22), roughness=0.9)
    box("outside-ground", (x1 + t, -40.0, -0.2), (60.0, 40.0, 0.0), outside)
    sun(12.0, 30.0, 10.0, 1.0)
    world_colour((0.35, 0.5, 0.85), 1.0)
    return camera((-3.7, 2.2, 1.6), (1.5, -0.6, 0.6), 20.0)


def build_yard():
    ground = grass("grass")
    box("ground", (-200.0, -200.0, -0.5), (200.0, 200.0, 0.0), ground)
    wall = bricks("garden-wall", (0.6, 0.55, 0.45), (0.5, 0.45, 0.38),
                  (0.15, 0.15, 0.15), roughness=0.85)
    box("garden-wall", (-9.0, 3.0, 0.0), (3.0, 3.3, 1.2), wall)
    house = plain("house", (0.75, 0.72, 0.66), roughness=0.85)
    roof = plain("roof", (0.35, 0.1, 0.07), roughness=0.6)
    box("house", (4.0, 8.0, 0.0), (10.0, 14.0, 3.5), house)
    pyramid("roof", (7.0, 11.0, 3.5 + 1.25), 3.3, 2.5, roof)
    box("shed-black", (-6.0, 10.0, 0.0), (-4.0, 12.0, 2.0), pure_black("black"))
    for i, x in enumerate((-3.0, -1.5, 0.0, 1.5)):
        cylinder("post-%d" % i, (x, 1.0, 0.5), 0.06, 1.0,
                 plain("post", (0.3, 0.22, 0.15), roughness=0.7), segments=12)
    sphere("ball-red", (-1.0, -1.5, 0.5), 0.5,
           plain("red", (0.7, 0.1, 0.08), roughness=0.9))
    sphere("ball-steel", (1.2, -0.8, 0.6), 0.6,
           plain("steel", (0.85, 0.85, 0.88), roughness=0.15, metallic=1.0))
    sun(1.5, 35.0, 130.0, 1.5)
    world_sky(35.0, 130.0, 0.1)
    return camera((0.5, -7.5, 1.6), (1.0, 5.0, 2.6), 28.0)


SCENES = {"room": build_room, "hall": build_hall, "yard": build_yard}

# The ball of each scene that rolls along x in a shot.
ROLLING = {"room": "diffuse-ball", "hall": "ball", "yard": "ball-red"}


def move_to_frame(scene_name, camera_object, frame):
    """A dolly of 2 cm a frame sideways and 3 cm forwards, the camera still
    turned as it was, and a ball moving 4 cm a frame along x: keyed at the
    frames before and after too, so that the vector pass holds the motion."""
    ball = bpy.data.objects[ROLLING[scene_name]]
    camera_start = camera_object.location.copy()
    ball_start = ball.location.copy()
    for key in (frame - 1, frame, frame + 1):
        camera_object.location = camera_start + Vector((0.02 * key, 0.03 * key, 0.0))
        camera_object.keyframe_insert("location", frame=key)
        ball.location = ball_start + Vector((0.04 * key, 0.0, 0.0))
        ball.keyframe_insert("location", frame=key)
    bpy.context.scene.frame_set(frame)


# ---------------------------------------------------------------- rendering

def configure(arguments):
    scene = bpy.context.scene
    scene.render.engine = "CYCLES"
    scene.cycles.device = "CPU"
    scene.cycles.samples = arguments.spp
    scene.cycles.use_adaptive_sampling = False
    scene.cycles.use_denoising = False
    scene.cycles.seed = arguments.seed
    scene.cycles.use_animated_seed = False
    scene.render.film_transparent = False
    scene.render.use_motion_blur = False
    scene.render.resolution_x = arguments.width
    scene.render.resolution_y = arguments.height
    scene.render.resolution_percentage = 100
    scene.render.use_compositing = False
    scene.render.use_sequencer = False
    if arguments.threads > 0:
        scene.render.threads_mode = "FIXED"
        scene.render.threads = arguments.threads

    layer = scene.view_layers[0]
    for name in ("combined", "z", "normal", "position", "vector",
                 "diffuse_direct", "diffuse_indirect", "diffuse_color",
                 "glossy_direct", "glossy_indirect", "glossy_color",
                 "emit", "environment"):
        setattr(layer, "use_pass_" + name, True)

    output = os.path.abspath(arguments.output)
    os.makedirs(os.path.dirname(output), exist_ok=True)
    scene.render.filepath = output
    scene.render.use_file_extension = False
    settings = scene.render.image_settings
    settings.file_format = "OPEN_EXR_MULTILAYER"
    settings.color_depth = "32"
    settings.exr_codec = "ZIP"
    return output


def main():
    arguments = parse_arguments()
    clear_everything()
    camera_object = SCENES[arguments.scene]()
    if arguments.frame != 0:
        move_to_frame(arguments.scene, camera_object, arguments.frame)
    output = configure(arguments)
    bpy.context.view_layer.update()

    if os.path.exists(output):
        os.remove(output)
    start = time.monotonic()
    bpy.ops.render.render(write_still=True)
    seconds = time.monotonic() - start
    if not os.path.isfile(output):
        raise RuntimeError("Blender wrote no " + output)

    x, y, z = camera_object.matrix_world.translation
    print("camera %.7g,%.7g,%.7g" % (x, y, z))
    print("render seconds %.2f" % seconds)
    print("wrote " + output)
    sys.stdout.flush()


try:
    main()
except SystemExit:
    raise
except BaseException:
    traceback.print_exc()
    sys.stdout.flush()
    sys.exit(1)
